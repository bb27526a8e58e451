#include "module/ItemPluginModule.h"

#include <new>

bool CItemPluginModule::Init() noexcept {
    if (initialized_) return true;
    if (FAILED(sharedLock_.Init())) return false;
    initialized_ = 1;
    return true;
}

void CItemPluginModule::Term() noexcept {
    if (!initialized_) return;
    TermNode* node;
    {
        CriticalSectionLock lock(sharedLock_);
        node = termList_;
        termList_ = nullptr;
    }
    while (node) {
        TermNode* next = node->next;
        node->func(node->argument);
        delete node;
        node = next;
    }
    sharedLock_.Term();
    initialized_ = 0;
}

HRESULT CItemPluginModule::AddTermFunc(TermFunc func, void* argument) noexcept {
    if (!initialized_) return E_UNEXPECTED;
    auto* node = new (std::nothrow) TermNode{func, argument, nullptr};
    if (!node) return E_OUTOFMEMORY;
    CriticalSectionLock lock(sharedLock_);
    node->next = termList_;
    termList_ = node;
    return S_OK;
}

bool g_moduleInitFailed = false;

namespace {

CItemPluginModule g_module;

// Start-up runs while the DLL (or a test program) is loaded, before any entry
// point: a failure is remembered and makes the DLL refuse to load.
struct ModuleStartup {
    ModuleStartup() {
        if (!g_module.Init()) g_moduleInitFailed = true;
    }
} g_moduleStartup;

}  // namespace

CItemPluginModule& Module() noexcept { return g_module; }

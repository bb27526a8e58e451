#include "tests/module/PluginDll.h"

#include <gtest/gtest.h>

#include <stdexcept>

std::wstring PluginDll::Path() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.rfind(L'\\') + 1) + L"ItemPlugin.dll";
}

PluginDll::PluginDll() : module_(LoadLibraryW(Path().c_str())) {
    if (!module_) throw std::runtime_error("ItemPlugin.dll cannot be loaded");
    getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    if (!getClassObject_ || !canUnloadNow_) throw std::runtime_error("ItemPlugin.dll lacks its exports");
}

PluginDll::~PluginDll() {
    // Whatever a test did, every object and lock must be gone again.
    EXPECT_EQ(CanUnloadNow(), S_OK);
    FreeLibrary(module_);
}

long PluginDll::LockCount(IClassFactory* held) const {
    long count = 0;
    while (CanUnloadNow() == S_FALSE && count < 1000) {
        held->LockServer(FALSE);
        ++count;
    }
    for (long i = 0; i < count; ++i) held->LockServer(TRUE);
    return count;
}

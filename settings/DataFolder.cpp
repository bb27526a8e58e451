// The per-user data folder and the shell's special folders.
#include <windows.h>
#include <shlobj.h>

#include <atomic>

#include "common/Environment.h"
#include "common/UniqueResource.h"
#include "settings/SettingsLight.h"

namespace {

using SHGetSpecialFolderPathWFn = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);

// Loaded once and kept for the life of the process.
std::atomic<HMODULE> g_shell32{nullptr};
std::atomic<SHGetSpecialFolderPathWFn> g_getSpecialFolderPath{nullptr};

SHGetSpecialFolderPathWFn SpecialFolderEntryPoint() {
    if (auto fn = g_getSpecialFolderPath.load()) return fn;
    HMODULE shell = g_shell32.load();
    if (!shell) {
        shell = LoadLibraryW(L"Shell32.dll");
        if (!shell) return nullptr;
        g_shell32.store(shell);
    }
    auto fn = reinterpret_cast<SHGetSpecialFolderPathWFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHGetSpecialFolderPathW")));
    g_getSpecialFolderPath.store(fn);
    return fn;
}

}  // namespace

bool GetSpecialFolder(int csidl, CString& out, bool create) {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (auto getPath = SpecialFolderEntryPoint()) {
        if (!getPath(nullptr, buffer, csidl, create ? TRUE : FALSE)) return false;
    } else {
        UniqueItemIdList items;
        if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, items.Put()))) return false;
        if (!SHGetPathFromIDListW(items.Get(), buffer)) return false;
    }
    out = buffer;
    return true;
}

bool FindDataFolder(CString& folder, CString* base, DataFolderBase* source, bool createSpecialFolder) {
    CString found;
    DataFolderBase from = DataFolderBase::LocalAppData;
    if (!GetSpecialFolder(CSIDL_LOCAL_APPDATA, found, createSpecialFolder)) {
        from = DataFolderBase::RoamingAppData;
        if (!GetSpecialFolder(CSIDL_APPDATA, found, createSpecialFolder)) {
            from = DataFolderBase::AppDataVariable;
            if (!ReadEnvironmentVariable(L"APPDATA", found)) return false;
        }
    }
    folder = found + L"\\KESTRELMAR\\KESTRELMAR PDM\\";
    if (base) *base = found;
    if (source) *source = from;
    return true;
}

CString SettingsLight::GetAppDataDir() {
    if (!appDataDir_.empty()) return appDataDir_;

    CString base;
    if (!FindDataFolder(appDataDir_, &base)) return {};
    const CString self = appDataDir_ + L".";
    if (GetFileAttributesW(self.c_str()) == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryW((base + L"\\KESTRELMAR").c_str(), nullptr);
        CreateDirectoryW(appDataDir_.c_str(), nullptr);
    }
    return appDataDir_;
}

// The per-user data folder and the shell's special folders.
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <iterator>

#include "common/CriticalSection.h"
#include "common/Environment.h"
#include "common/UniqueResource.h"
#include "settings/ChangeWatch.h"
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

constexpr wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

CString LookUpDataFolder(bool& fromShell);

// The product's data folder as the last lookup through the shell found (and
// created) it, kept while the user's shell folder settings stay as they were:
// the shell's lookup costs more than the rest of a request's settings together.
class DataFolderCache {
public:
    bool Get(CString& folder) {
        SharedLock hold(lock_);
        if (folder_.empty()) return false;
        const HANDLE events[] = {userShellFolders_.Event(), shellFolders_.Event()};
        if (FirstSignalled(events, 0) < std::size(events)) return false;
        folder = folder_;
        return true;
    }
    // A fresh lookup; its answer is kept when it came from the shell. The
    // watches are armed first, so a change during the lookup is seen next time.
    CString LookUp() {
        ExclusiveLock hold(lock_);
        folder_.clear();
        const bool armed = userShellFolders_.Arm(HKEY_CURRENT_USER, kUserShellFolders) &&
                           shellFolders_.Arm(HKEY_CURRENT_USER, kShellFolders);
        bool fromShell = false;
        CString folder = LookUpDataFolder(fromShell);
        if (armed && fromShell) folder_ = folder;
        return folder;
    }
    void Forget() noexcept {
        ExclusiveLock hold(lock_);
        folder_.clear();
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    RegistryWatch userShellFolders_;
    RegistryWatch shellFolders_;
    CString folder_;
};

DataFolderCache& ProcessDataFolder() {
    static DataFolderCache cache;
    return cache;
}

}  // namespace

void ForgetDataFolder() noexcept { ProcessDataFolder().Forget(); }

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
    if (appDataDir_.empty() && !ProcessDataFolder().Get(appDataDir_)) appDataDir_ = ProcessDataFolder().LookUp();
    return appDataDir_;
}

namespace {

// The data folder as FindDataFolder finds it, its two folders created when missing.
CString LookUpDataFolder(bool& fromShell) {
    CString folder, base;
    DataFolderBase source = DataFolderBase::None;
    if (!FindDataFolder(folder, &base, &source)) return {};
    fromShell = source == DataFolderBase::LocalAppData || source == DataFolderBase::RoamingAppData;
    const CString self = folder + L".";
    if (GetFileAttributesW(self.c_str()) == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryW((base + L"\\KESTRELMAR").c_str(), nullptr);
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    return folder;
}

}  // namespace

// The per-user data folder and the shell's special folders.
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <memory>

#include "common/CriticalSection.h"
#include "common/Environment.h"
#include "common/RequestTrace.h"
#include "common/UniqueResource.h"
#include "settings/SettingsLight.h"

namespace {

using SHGetSpecialFolderPathWFn = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);

// The plug-in imports shell32, so it is loaded while the plug-in is: its entry
// point is bound without a reference of our own, which nothing would give back.
std::atomic<SHGetSpecialFolderPathWFn> g_getSpecialFolderPath{nullptr};

SHGetSpecialFolderPathWFn SpecialFolderEntryPoint() noexcept {
    if (auto fn = g_getSpecialFolderPath.load(std::memory_order_relaxed)) return fn;
    const HMODULE shell = GetModuleHandleW(L"shell32.dll");
    if (!shell) return nullptr;
    auto fn = reinterpret_cast<SHGetSpecialFolderPathWFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHGetSpecialFolderPathW")));
    g_getSpecialFolderPath.store(fn, std::memory_order_relaxed);
    return fn;
}

constexpr wchar_t kProductFolder[] = L"\\KESTRELMAR";
constexpr wchar_t kProductDataFolder[] = L"\\KESTRELMAR\\KESTRELMAR PDM\\";

// The product's two folders below base; failures are left to whoever uses them.
void CreateDataFolder(const CString& base) {
    const CString folders[] = {base + kProductFolder, base + kProductDataFolder};
    for (const CString& folder : folders) {
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES && ShouldChange(folder)) {
            CreateDirectoryW(folder.c_str(), nullptr);
        }
    }
}

bool FindDataFolder(CString& folder, CString& base, DataFolderBase& source);

bool FolderExists(const CString& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The data folder found under the local application data folder, kept while
// the user's settings keep their generation (the shell's lookup costs more than
// the rest of a request's settings together; "User Shell Folders", which its
// answer depends on, is among the keys watched for it). The fallbacks (roaming
// folder, APPDATA) are never kept: the local folder may be there by the next
// request. A thread acting for another user (generation 0) looks the folder up
// afresh and keeps nothing.
class DataFolderCache {
public:
    // checked: a kept folder is asked whether it is still there and made again
    // when it has gone; unchecked, for a caller whose own use of the folder
    // shows that (and which then forgets it).
    CString Get(SettingsLight& settings, bool checked) {
        const unsigned long long generation = settings.Generation();
        std::shared_ptr<const Found> known;
        if (generation != 0) {
            SharedLock hold(lock_);
            known = found_;
        }
        if (known && known->generation == generation) {
            const RequestStep step = Observed();
            const bool existed = !checked && !step ? true : FolderExists(known->folder);
            if (step) step->DataFolder(step.call, DataFolderBase::LocalAppData, known->base, known->folder, existed, true);
            if (!existed) CreateDataFolder(known->base);
            return known->folder;
        }

        // Looked up outside the lock, after the generation was armed: a change
        // during the lookup is seen next time.
        auto fresh = std::make_shared<Found>();
        fresh->generation = generation;
        DataFolderBase source = DataFolderBase::None;
        const bool found = FindDataFolder(fresh->folder, fresh->base, source);
        const bool existed = found && FolderExists(fresh->folder);
        if (const RequestStep step = Observed()) step->DataFolder(step.call, source, fresh->base, fresh->folder, existed, false);
        if (!found) {
            if (generation != 0) Forget();
            return {};
        }
        if (!existed) CreateDataFolder(fresh->base);
        if (generation == 0) return fresh->folder;
        ExclusiveLock hold(lock_);
        found_ = source == DataFolderBase::LocalAppData ? fresh : nullptr;
        return fresh->folder;
    }
    void Forget() noexcept {
        ExclusiveLock hold(lock_);
        found_.reset();
    }

private:
    struct Found {
        unsigned long long generation = 0;
        CString base;
        CString folder;
    };
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::shared_ptr<const Found> found_;
};

// Built when the module loads, without a guard of the thread runtime's.
DataFolderCache g_processDataFolder;

}  // namespace

void ForgetDataFolder() noexcept { g_processDataFolder.Forget(); }

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

namespace {

// The data folder under the first base the shell or the environment gives. A
// read-only request lets the shell create no missing special folder.
bool FindDataFolder(CString& folder, CString& base, DataFolderBase& source) {
    const bool create = !ReadOnlyRequest();
    source = DataFolderBase::LocalAppData;
    if (!GetSpecialFolder(CSIDL_LOCAL_APPDATA, base, create)) {
        source = DataFolderBase::RoamingAppData;
        if (!GetSpecialFolder(CSIDL_APPDATA, base, create)) {
            source = DataFolderBase::AppDataVariable;
            // Set but empty would name a folder at the root of whatever drive is current.
            if (!ReadEnvironmentVariable(L"APPDATA", base) || base.empty()) {
                source = DataFolderBase::None;
                return false;
            }
        }
    }
    folder = base + kProductDataFolder;
    return true;
}

}  // namespace

CString SettingsLight::GetAppDataDir() {
    if (appDataDir_.empty()) appDataDir_ = g_processDataFolder.Get(*this, true);
    return appDataDir_;
}

CString SettingsLight::CacheDataFolder() {
    if (appDataDir_.empty()) appDataDir_ = g_processDataFolder.Get(*this, false);
    return appDataDir_;
}

#pragma once
// The process's knowledge of the registered vault views and of the identities
// their desktop.ini files carry, kept between requests. Every answer equals what
// a fresh read of the registry and of the desktop.ini files gives at the moment
// of the request: registry change notifications on the registration keys and
// directory change notifications on the view roots say what must be read again,
// so that the common case costs a few zero-time waits, whatever the number of
// registered views. Safe for concurrent callers; starts no thread.
#include <windows.h>

#include <memory>
#include <vector>

#include "common/CString.h"
#include "settings/ChangeWatch.h"
#include "settings/ViewIdentity.h"

class SettingsLight;

class VaultViewCache {
public:
    VaultViewCache() = default;
    VaultViewCache(const VaultViewCache&) = delete;
    VaultViewCache& operator=(const VaultViewCache&) = delete;

    // The registered view name of the vault: the first registered view whose
    // root's desktop.ini names both a view and this vault.
    bool FindVaultName(SettingsLight& settings, const GUID& vaultId, CString& name);
    // What ReadViewIdentity(folder, which) answers now.
    bool ReadIdentity(const CString& folder, ViewIdentity which, GUID& out);

    // How often the registrations were read anew, and desktop.ini files read:
    // what a diagnosis (or a test) needs to see whether the cache served.
    struct Reads {
        unsigned long long registrations = 0;
        unsigned long long folders = 0;
    };
    Reads ReadCounts();

private:
    struct Folder {
        CString path;
        FolderWatch watch;
        bool watchable = false;  // false: read again on every request
        bool stale = true;
        ViewIdentities ids;
        ULONGLONG lastUse = 0;
        ULONGLONG checked = 0;  // the request that last looked at it
    };
    struct View {
        CString name;
        Folder* root = nullptr;  // null when the registration names no root
    };

    void Rebuild(SettingsLight& settings);
    Folder& FolderFor(const CString& path);
    void Refresh(Folder& folder);
    void RefreshChanged(size_t signalled);
    void DropUnusedFolders();
    void CollectHandles();

    SRWLOCK lock_ = SRWLOCK_INIT;
    bool valid_ = false;
    RegistryWatch machineWatch_;
    RegistryWatch userWatch_;
    std::vector<View> views_;
    std::vector<std::unique_ptr<Folder>> folders_;
    // The two registry events, then every armed folder handle ...
    static constexpr size_t kRegistryHandles = 2;
    std::vector<HANDLE> handles_;
    std::vector<Folder*> owners_;  // ... and the folder it belongs to
    bool handlesDirty_ = true;
    ULONGLONG clock_ = 0;
    ULONGLONG generation_ = 0;
    Reads reads_;
};

// The one cache of the process, released when the module unloads.
VaultViewCache& ProcessVaultViews();

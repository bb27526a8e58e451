#pragma once
// The process's knowledge of the registered vault views and of the identities
// their desktop.ini files carry, kept between requests. Every answer equals what
// a fresh read of the registry and of the desktop.ini files gives at the moment
// of the request: registry change notifications on the two application keys say
// when the registrations must be read again, and each desktop.ini the answer
// depends on is validated by one attribute query. Nothing of the user's is held
// open between requests. Safe for concurrent callers: registry and file system
// calls run outside the lock, which only guards publishing their results. Only
// a complete read is published, and a thread that acts for another user reads
// everything afresh and publishes nothing.
#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "common/CString.h"
#include "settings/SettingsLight.h"
#include "settings/ViewIdentity.h"
#include "settings/ViewIdentityCache.h"

class VaultViewCache {
public:
    VaultViewCache() = default;
    VaultViewCache(const VaultViewCache&) = delete;
    VaultViewCache& operator=(const VaultViewCache&) = delete;

    // The registered view name of the vault: the first registered view, in
    // listing order, whose root's desktop.ini names both a view and this vault.
    bool FindVaultName(SettingsLight& settings, const GUID& vaultId, CString& name);
    // What ReadViewIdentity(folder, which) answers now.
    bool ReadIdentity(const CString& folder, ViewIdentity which, GUID& out);
    bool ReadIdentity(const CString& folder, ViewIdentity which, GUID& out, bool shared);

    // How often the registrations were read anew, and desktop.ini files read:
    // what a diagnosis (or a test) needs to see whether the cache served.
    struct Reads {
        unsigned long long registrations = 0;
        unsigned long long folders = 0;
    };
    Reads ReadCounts() const noexcept;

private:
    // The registered views as one fresh read found them, under the generation
    // of the user's settings armed before that read; never changed once published.
    struct Registrations {
        unsigned long long generation = 0;  // 0: not to be kept
        std::vector<RegisteredView> met;    // every registration, in listing order
        std::vector<std::size_t> views;     // those with a usable "ShellRoot", in order
    };

    std::shared_ptr<const Registrations> CurrentRegistrations(SettingsLight& settings, bool shared, bool& kept);
    // complete: false when a read failed for another reason than a missing key,
    // or a key read from was deleted before its watch was armed.
    std::shared_ptr<Registrations> ReadRegistrations(SettingsLight& settings, bool& complete);

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::shared_ptr<const Registrations> registrations_;
    ViewIdentityCache identities_;
    std::atomic<unsigned long long> registrationReads_{0};
};

// The one cache of the process, released when the module unloads.
VaultViewCache& ProcessVaultViews() noexcept;

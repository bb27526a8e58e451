#include "settings/VaultViewCache.h"

#include "common/CriticalSection.h"
#include "common/Environment.h"
#include "settings/AppKey.h"
#include "settings/SettingsLight.h"

namespace {

// The view root a registration names now: a REG_EXPAND_SZ value is expanded
// afresh on each use, since the environment may have changed.
CString RootNow(DWORD type, const CString& root) {
    if (type != REG_EXPAND_SZ) return root;
    CString expanded;
    if (!ExpandEnvironmentText(root, expanded) || expanded.empty()) return {};
    AppendBackslashIfMissing(expanded);
    return expanded;
}

}  // namespace

bool VaultViewCache::FindVaultName(SettingsLight& settings, const GUID& vaultId, CString& name) {
    const auto registrations = CurrentRegistrations(settings);
    // Only the views up to the first match are looked at: the answer depends on nothing after it.
    for (const auto& view : registrations->views) {
        const CString root = RootNow(view.type, view.root);
        if (!root.empty() && identities_.Get(root).IsViewOf(vaultId)) {
            name = view.name;
            return true;
        }
    }
    return false;
}

bool VaultViewCache::ReadIdentity(const CString& folder, ViewIdentity which, GUID& out) {
    const ViewIdentities ids = identities_.Get(folder);
    const bool found = which == ViewIdentity::View ? ids.hasView : ids.hasVault;
    if (found) out = which == ViewIdentity::View ? ids.view : ids.vault;
    return found;
}

VaultViewCache::Reads VaultViewCache::ReadCounts() const noexcept {
    return {registrationReads_.load(), identities_.Reads()};
}

std::shared_ptr<const VaultViewCache::Registrations> VaultViewCache::CurrentRegistrations(SettingsLight& settings) {
    std::shared_ptr<const Registrations> known;
    {
        SharedLock hold(lock_);
        known = registrations_;
    }
    if (known && known->Current()) return known;

    // Two threads may both read afresh; either answer is a fresh read.
    auto fresh = ReadRegistrations(settings);
    ExclusiveLock hold(lock_);
    registrations_ = fresh->armed ? fresh : nullptr;
    return fresh;
}

std::shared_ptr<const VaultViewCache::Registrations> VaultViewCache::ReadRegistrations(SettingsLight& settings) {
    ++registrationReads_;
    auto fresh = std::make_shared<Registrations>();
    // Created before the watch is armed, so that creating it is no change to see.
    settings.UserKey();
    const bool machineArmed = fresh->machine.Arm(HKEY_LOCAL_MACHINE, kAppKeyPath, true);
    const bool userArmed = fresh->user.Arm(HKEY_CURRENT_USER, kAppKeyPath, true);
    fresh->armed = machineArmed && userArmed;
    for (CString& name : settings.RegisteredViewNames()) {
        const ViewRootRead read = settings.ReadViewRoot(name.c_str());
        if (read.type == REG_EXPAND_SZ && !read.stored.empty()) {
            fresh->views.push_back({std::move(name), REG_EXPAND_SZ, read.stored});
        } else if (!read.root.empty()) {
            fresh->views.push_back({std::move(name), REG_SZ, read.root});
        }
    }
    return fresh;
}

VaultViewCache& ProcessVaultViews() {
    static VaultViewCache cache;
    return cache;
}

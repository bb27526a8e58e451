#include "settings/VaultViewCache.h"

#include "common/CriticalSection.h"
#include "common/Environment.h"
#include "common/RequestTrace.h"
#include "settings/AppKey.h"

namespace {

// The view root a registration names now: a REG_EXPAND_SZ value is expanded
// afresh on each use, since the environment may have changed.
CString RootNow(const ViewRootRead& read) {
    if (read.type != REG_EXPAND_SZ) return read.root;
    CString expanded;
    if (!ExpandEnvironmentText(read.stored, expanded) || expanded.empty()) return {};
    AppendBackslashIfMissing(expanded);
    return expanded;
}

}  // namespace

bool VaultViewCache::FindVaultName(SettingsLight& settings, const GUID& vaultId, CString& name) {
    bool kept = false;
    const auto registrations = CurrentRegistrations(settings, kept);
    RequestObserver* observer = Observer();
    if (observer) observer->Registrations(registrations->met, kept);
    // Only the views up to the first match are looked at: the answer depends on nothing after it.
    for (const std::size_t index : registrations->views) {
        const RegisteredView& view = registrations->met[index];
        const CString root = RootNow(view.root);
        const ViewIdentities ids = root.empty() ? ViewIdentities{} : identities_.Get(root);
        const bool taken = ids.IsViewOf(vaultId);
        if (observer) observer->ViewExamined(index, root, ids, taken);
        if (taken) {
            name = view.registration.name;
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

std::shared_ptr<const VaultViewCache::Registrations> VaultViewCache::CurrentRegistrations(SettingsLight& settings,
                                                                                         bool& kept) {
    std::shared_ptr<const Registrations> known;
    {
        SharedLock hold(lock_);
        known = registrations_;
    }
    kept = known && known->Current();
    if (kept) return known;

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
    for (Registration& registration : settings.Registrations()) {
        RegisteredView view{std::move(registration), {}};
        if (view.registration.hasShellRoot) {
            view.root = settings.ReadViewRoot(view.registration.name.c_str());
            const bool usable = view.root.type == REG_EXPAND_SZ ? !view.root.stored.empty() : !view.root.root.empty();
            if (usable) fresh->views.push_back(fresh->met.size());
        }
        fresh->met.push_back(std::move(view));
    }
    return fresh;
}

VaultViewCache& ProcessVaultViews() {
    static VaultViewCache cache;
    return cache;
}

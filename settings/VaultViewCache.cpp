#include "settings/VaultViewCache.h"

#include "common/CriticalSection.h"
#include "common/Environment.h"
#include "common/RequestTrace.h"
#include "settings/ThreadToken.h"

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

// False when key was deleted after it was opened: what was read through it is
// not what its path holds now, nor what a watch armed on that path guards.
bool StillThere(const Registry* key) noexcept {
    return !key || RegQueryInfoKeyW(key->Key(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr) != ERROR_KEY_DELETED;
}

// A root the lookup can look at: an expandable one is expanded again at each use.
bool UsableRoot(const ViewRootRead& root) noexcept {
    return root.type == REG_EXPAND_SZ ? !root.stored.empty() : !root.root.empty();
}

// Built when the module loads, without a guard of the thread runtime's.
VaultViewCache g_processVaultViews;

}  // namespace

bool VaultViewCache::FindVaultName(SettingsLight& settings, const GUID& vaultId, CString& name) {
    bool kept = false;
    const bool shared = settings.UsesProcessCaches();
    const auto registrations = CurrentRegistrations(settings, shared, kept);
    const RequestStep step = Observed();
    if (step) step->Registrations(step.call, registrations->met, kept);
    // Tells why each registration before index was passed over without a look
    // at its root; one with a usable root is passed over only after the match.
    std::size_t told = 0;
    const auto passOver = [&](std::size_t index) {
        for (; told < index; ++told) {
            const RegisteredView& view = registrations->met[told];
            const ViewReason reason = !view.registration.opened         ? ViewReason::Unopenable
                                      : !view.registration.hasShellRoot ? ViewReason::NoShellRoot
                                      : UsableRoot(view.root)           ? ViewReason::NotExamined
                                                                        : ViewReason::NoFolder;
            step->ViewChosen(step.call, told, reason, nullptr, nullptr);
        }
    };
    // Only the views up to the first match are looked at: the answer depends on nothing after it.
    for (const std::size_t index : registrations->views) {
        const RegisteredView& view = registrations->met[index];
        const CString root = RootNow(view.root);
        const ViewIdentities ids = root.empty() ? ViewIdentities{} : identities_.Get(root, shared);
        const bool taken = ids.IsViewOf(vaultId);
        if (step) {
            passOver(index);
            const ViewReason reason = root.empty() ? ViewReason::NoFolder
                                      : !ids.hasView  ? ViewReason::NoViewId
                                      : !ids.hasVault ? ViewReason::NoVaultId
                                      : taken         ? ViewReason::Taken
                                                      : ViewReason::OtherVault;
            step->ViewChosen(step.call, told++, reason, &root, &ids);
        }
        if (taken) {
            if (step) passOver(registrations->met.size());
            name = view.registration.name;
            return true;
        }
    }
    if (step) passOver(registrations->met.size());
    return false;
}

bool VaultViewCache::ReadIdentity(const CString& folder, ViewIdentity which, GUID& out) {
    return ReadIdentity(folder, which, out, !ThreadImpersonates());
}

bool VaultViewCache::ReadIdentity(const CString& folder, ViewIdentity which, GUID& out, bool shared) {
    const ViewIdentities ids = identities_.Get(folder, shared);
    const bool found = which == ViewIdentity::View ? ids.hasView : ids.hasVault;
    if (found) out = which == ViewIdentity::View ? ids.view : ids.vault;
    return found;
}

VaultViewCache::Reads VaultViewCache::ReadCounts() const noexcept {
    return {registrationReads_.load(), identities_.Reads()};
}

std::shared_ptr<const VaultViewCache::Registrations> VaultViewCache::CurrentRegistrations(SettingsLight& settings,
                                                                                         bool shared, bool& kept) {
    // One wait for every notification the lookup trusts, armed before any read.
    const unsigned long long generation = shared ? settings.Generation() : 0;
    std::shared_ptr<const Registrations> known;
    if (generation != 0) {
        SharedLock hold(lock_);
        known = registrations_;
    }
    kept = known && known->generation == generation;
    if (kept) return known;

    // Two threads may both read afresh; either answer is a fresh read.
    bool complete = false;
    auto fresh = ReadRegistrations(settings, complete);
    if (generation == 0) return fresh;
    fresh->generation = complete ? generation : 0;
    ExclusiveLock hold(lock_);
    registrations_ = complete ? fresh : nullptr;
    return fresh;
}

std::shared_ptr<VaultViewCache::Registrations> VaultViewCache::ReadRegistrations(SettingsLight& settings,
                                                                                bool& complete) {
    ++registrationReads_;
    auto fresh = std::make_shared<Registrations>();
    complete = true;
    for (Registration& registration : settings.Registrations(&complete)) {
        RegisteredView view{std::move(registration), {}};
        if (view.registration.hasShellRoot) {
            view.root = settings.ReadViewRoot(view.registration.name.c_str());
            if (UsableRoot(view.root)) fresh->views.push_back(fresh->met.size());
        }
        fresh->met.push_back(std::move(view));
    }
    // The user key may have been deleted and made again between its open and
    // the watch: the read then came from the deleted key.
    complete = complete && StillThere(settings.OpenUserKey()) && StillThere(settings.OpenMachineKey());
    return fresh;
}

VaultViewCache& ProcessVaultViews() noexcept { return g_processVaultViews; }

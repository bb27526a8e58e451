#include "settings/SettingsWatch.h"

#include "common/CriticalSection.h"
#include "settings/AppKey.h"
#include "settings/SettingsLight.h"

namespace {

// Built when the module loads, without a guard of the thread runtime's.
SettingsWatch g_processSettingsWatch;

}  // namespace

unsigned long long SettingsWatch::Current(SettingsLight& settings) noexcept try {
    std::shared_ptr<const Armed> known;
    {
        SharedLock hold(lock_);
        known = armed_;
    }
    if (known && !RegistryWatch::AnyChanged({&known->machine, &known->user, &known->shellFolders})) {
        return known->generation;
    }

    // Created before the watch is armed, so that creating it is no change to see.
    settings.UserKey();
    auto fresh = std::make_shared<Armed>();
    const bool armed = fresh->machine.ArmWithParent(HKEY_LOCAL_MACHINE, kAppKeyPath, true) &&
                       fresh->user.ArmWithParent(HKEY_CURRENT_USER, kAppKeyPath, true) &&
                       fresh->shellFolders.ArmWithParent(HKEY_CURRENT_USER, kUserShellFoldersKey, false);
    const unsigned long long generation = armed ? ++generations_ : 0;
    fresh->generation = generation;
    ExclusiveLock hold(lock_);
    armed_ = armed ? std::move(fresh) : nullptr;
    return generation;
} catch (...) {
    return 0;
}

SettingsWatch& ProcessSettingsWatch() noexcept { return g_processSettingsWatch; }

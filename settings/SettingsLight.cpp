#include "settings/SettingsLight.h"

#include "settings/AppKey.h"
#include "settings/SettingsWatch.h"
#include "settings/ThreadToken.h"

Registry* SettingsLight::MachineKey() noexcept {
    if (machineKey_.IsOpen()) return &machineKey_;
    return machineKey_.Open(HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_READ) ? &machineKey_ : nullptr;
}

Registry* SettingsLight::UserKey() noexcept {
    if (userKey_.IsOpen()) return &userKey_;
    if (readOnly_) return userKey_.Open(HKEY_CURRENT_USER, kAppKeyPath, KEY_READ) ? &userKey_ : nullptr;
    return userKey_.Create(HKEY_CURRENT_USER, kAppKeyPath, KEY_READ | KEY_WRITE) ? &userKey_ : nullptr;
}

bool SettingsLight::UsesProcessCaches() noexcept {
    if (caches_ == Caches::Unknown) caches_ = ThreadImpersonates() ? Caches::Own : Caches::Shared;
    return caches_ == Caches::Shared;
}

unsigned long long SettingsLight::Generation() noexcept {
    if (!generationAsked_) {
        generation_ = UsesProcessCaches() ? ProcessSettingsWatch().Current(*this) : 0;
        generationAsked_ = true;
    }
    return generation_;
}

bool SettingsLight::UserKeyWouldBeCreated() {
    if (!readOnly_ || UserKey()) return false;
    ShouldChange(CString(L"HKCU\\") + kAppKeyPath);
    return true;
}

bool SettingsLight::ApplicationKeys(Registry*& machine, Registry*& user) {
    machine = MachineKey();
    user = UserKey();
    return machine && (user || UserKeyWouldBeCreated());
}

Registry* SettingsLight::MachineKeyInView(Registry& key, REGSAM viewFlag) noexcept {
    if (key.IsOpen()) return &key;
    return key.Open(HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_READ | viewFlag) ? &key : nullptr;
}

CString SettingsLight::GetPath(PathKind kind) {
    const auto value = static_cast<std::uint32_t>(kind);
    if (value > static_cast<std::uint32_t>(PathKind::Location32)) return {};
    if (value == 2 || value == 5) kind = PathKind::Location;  // values without a kind of their own
    if (kind == PathKind::AppDataDir) return GetAppDataDir();
    return GetInstallFolder(kind);
}

// Vault view discovery: registered views, their roots and their identities.
#include <vector>

#include "settings/AppKey.h"
#include "settings/SettingsLight.h"
#include "settings/VaultViewCache.h"
#include "settings/ViewIdentity.h"

namespace {

constexpr DWORD kVaultNameBufferChars = 1024;

}  // namespace

bool SettingsLight::OpenVaultKey(const CString& name, Registry& vaultKey, ViewPlace* place) {
    if (name.empty()) return false;

    Registry* machine = nullptr;
    Registry* user = nullptr;
    if (!ApplicationKeys(machine, user)) return false;

    Registry databases;
    Registry vaults;
    databases.Open(machine->Key(), kMachineViewsKey, KEY_READ);
    if (user) vaults.Open(user->Key(), kUserViewsKey, KEY_READ);

    // A per-user registration with a "ShellRoot" wins over the machine's.
    if (vaults.IsOpen() && vaultKey.Open(vaults.Key(), name.c_str(), KEY_READ) && vaultKey.HasShellRoot()) {
        if (place) *place = ViewPlace::User;
        return true;
    }

    if (!databases.IsOpen()) return false;
    if (!vaultKey.Open(databases.Key(), name.c_str(), KEY_READ)) return false;
    if (place) *place = ViewPlace::Machine;
    return vaultKey.HasShellRoot();
}

ViewRootRead SettingsLight::ReadViewRoot(const wchar_t* name) {
    ViewRootRead read;
    if (!name) return read;
    Registry vaultKey;
    read.registered = OpenVaultKey(name, vaultKey, &read.place);
    if (!read.registered) return read;

    CString root;
    if (!vaultKey.ReadString(kShellRootValue, root, &read.type, &read.stored) || root.empty()) return read;
    AppendBackslashIfMissing(root);
    read.root = root;
    return read;
}

CString SettingsLight::GetViewRoot(const wchar_t* name) { return ReadViewRoot(name).root; }

std::vector<Registration> SettingsLight::Registrations(bool* complete) {
    const auto incomplete = [complete] {
        if (complete) *complete = false;
    };
    struct Place {
        ViewPlace place;
        const wchar_t* subkey;
    };
    static constexpr Place kPlaces[] = {{ViewPlace::Machine, kMachineViewsKey}, {ViewPlace::User, kUserViewsKey}};

    std::vector<Registration> found;
    for (const Place& place : kPlaces) {
        Registry* machine = nullptr;
        Registry* user = nullptr;
        if (!ApplicationKeys(machine, user)) continue;
        Registry* parent = place.place == ViewPlace::Machine ? machine : user;
        if (!parent) continue;  // a user key yet to be created holds no registrations

        Registry placeKey;
        if (const LSTATUS opened = placeKey.TryOpen(parent->Key(), place.subkey, KEY_READ); opened != ERROR_SUCCESS) {
            if (opened != ERROR_FILE_NOT_FOUND) incomplete();
            continue;
        }

        DWORD subkeys = 0;
        if (RegQueryInfoKeyW(placeKey.Key(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            incomplete();
            continue;
        }

        for (DWORD index = 0; index < subkeys; ++index) {
            wchar_t nameBuffer[kVaultNameBufferChars] = {};
            DWORD nameChars = kVaultNameBufferChars;
            // A subkey deleted meanwhile ends the list early: a change its watch reports.
            if (const LSTATUS listed = RegEnumKeyExW(placeKey.Key(), index, nameBuffer, &nameChars, nullptr, nullptr,
                                                     nullptr, nullptr);
                listed != ERROR_SUCCESS) {
                if (listed != ERROR_NO_MORE_ITEMS) incomplete();
                continue;
            }
            Registration entry{place.place, CString(nameBuffer, nameChars)};
            Registry registration;
            entry.opened = registration.Open(placeKey.Key(), nameBuffer, KEY_READ);
            entry.hasShellRoot = entry.opened && registration.HasShellRoot();
            found.push_back(std::move(entry));
        }
    }
    return found;
}

std::vector<CString> SettingsLight::RegisteredViewNames() {
    std::vector<CString> names;
    for (Registration& entry : Registrations()) {
        if (entry.hasShellRoot) names.push_back(std::move(entry.name));
    }
    return names;
}

bool SettingsLight::ListVaultViews(Lst<CString>& names) {
    for (const CString& name : RegisteredViewNames()) {
        const CString root = GetViewRoot(name.c_str());
        if (!root.empty() && ReadViewIdentities(root).Listed()) names.AddTail(name);
    }
    return true;
}

// Answered from the process's vault view cache, which equals a fresh read.
bool SettingsLight::FindVaultName(const GUID& vaultId, CString& name) {
    return ProcessVaultViews().FindVaultName(*this, vaultId, name);
}

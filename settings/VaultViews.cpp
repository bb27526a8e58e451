// Vault view discovery: registered views, their roots and their identities.
#include <vector>

#include "settings/SettingsLight.h"
#include "settings/VaultViewCache.h"
#include "settings/ViewIdentity.h"

namespace {

constexpr DWORD kVaultNameBufferChars = 1024;

}  // namespace

bool SettingsLight::OpenVaultKey(const CString& name, Registry& vaultKey) {
    if (name.empty()) return false;

    Registry* machine = MachineKey();
    Registry* user = UserKey();
    if (!machine || !user) return false;

    Registry databases;
    Registry vaults;
    databases.Open(machine->Key(), L"Databases", KEY_READ);
    vaults.Open(user->Key(), L"Vaults", KEY_READ);

    // A per-user registration with a "ShellRoot" wins over the machine's.
    if (vaults.IsOpen() && vaultKey.Open(vaults.Key(), name.c_str(), KEY_READ) && vaultKey.HasShellRoot()) return true;

    if (!databases.IsOpen()) return false;
    if (!vaultKey.Open(databases.Key(), name.c_str(), KEY_READ)) return false;
    return vaultKey.HasShellRoot();
}

CString SettingsLight::GetViewRoot(const wchar_t* name) {
    if (!name) return {};
    Registry vaultKey;
    if (!OpenVaultKey(name, vaultKey)) return {};

    CString root;
    if (!vaultKey.ReadString(L"ShellRoot", root) || root.empty()) return {};
    AppendBackslashIfMissing(root);
    return root;
}

std::vector<CString> SettingsLight::RegisteredViewNames() {
    struct Place {
        bool machine;
        const wchar_t* subkey;
    };
    static constexpr Place kPlaces[] = {{true, L"Databases"}, {false, L"Vaults"}};

    std::vector<CString> names;
    for (const Place& place : kPlaces) {
        Registry* machine = MachineKey();
        Registry* user = UserKey();
        if (!machine || !user) continue;

        Registry placeKey;
        if (!placeKey.Open((place.machine ? machine : user)->Key(), place.subkey, KEY_READ)) continue;

        DWORD subkeys = 0;
        if (RegQueryInfoKeyW(placeKey.Key(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            continue;
        }

        for (DWORD index = 0; index < subkeys; ++index) {
            wchar_t nameBuffer[kVaultNameBufferChars] = {};
            DWORD nameChars = kVaultNameBufferChars;
            if (RegEnumKeyExW(placeKey.Key(), index, nameBuffer, &nameChars, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                continue;
            }
            Registry registration;
            if (!registration.Open(placeKey.Key(), nameBuffer, KEY_READ) || !registration.HasShellRoot()) continue;
            names.emplace_back(nameBuffer, nameChars);
        }
    }
    return names;
}

bool SettingsLight::ListVaultViews(Lst<CString>& names) {
    for (const CString& name : RegisteredViewNames()) {
        const CString root = GetViewRoot(name.c_str());
        GUID identity{};
        if (!root.empty() && ReadViewIdentity(root, ViewIdentity::View, identity) &&
            ReadViewIdentity(root, ViewIdentity::Vault, identity)) {
            names.AddTail(name);
        }
    }
    return true;
}

// Answered from the process's vault view cache, which equals a fresh read.
bool SettingsLight::FindVaultName(const GUID& vaultId, CString& name) {
    return ProcessVaultViews().FindVaultName(*this, vaultId, name);
}

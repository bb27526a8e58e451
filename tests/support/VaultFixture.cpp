#include "tests/support/VaultFixture.h"

#include <objbase.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "common/UniqueResource.h"
#include "settings/AppKey.h"

void SetRegistryValue(HKEY root, const std::wstring& path, const wchar_t* valueName, DWORD type, const void* data,
                      DWORD size, REGSAM view) {
    UniqueHKey key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Put(), nullptr) !=
            ERROR_SUCCESS ||
        RegSetValueExW(key.Get(), valueName, 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot write registry value");
    }
}

void SetRegistryString(HKEY root, const std::wstring& path, const wchar_t* valueName, const std::wstring& text,
                       REGSAM view) {
    SetRegistryValue(root, path, valueName, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2), view);
}

bool GetRegistryString(HKEY root, const std::wstring& path, const wchar_t* valueName, std::wstring& out, REGSAM view) {
    UniqueHKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    std::vector<wchar_t> buffer(size / 2 + 1, L'\0');
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    out = buffer.data();
    return true;
}

static std::wstring RegistrationPath(RegistrationPlace place, const std::wstring& name) {
    return std::wstring(kAppKeyPath) + (place == RegistrationPlace::Machine ? L"\\Databases\\" : L"\\Vaults\\") + name;
}

static HKEY RegistrationRoot(RegistrationPlace place) {
    return place == RegistrationPlace::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

void SetRegistrationValue(RegistrationPlace place, const std::wstring& name, const wchar_t* valueName, DWORD type,
                          const void* data, DWORD size) {
    SetRegistryValue(RegistrationRoot(place), RegistrationPath(place, name), valueName, type, data, size);
}

void RegisterVaultView(RegistrationPlace place, const std::wstring& name, const wchar_t* root) {
    UniqueHKey key;
    if (RegCreateKeyExW(RegistrationRoot(place), RegistrationPath(place, name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create registration");
    }
    if (root) SetRegistrationValue(place, name, L"ShellRoot", REG_SZ, root, static_cast<DWORD>((wcslen(root) + 1) * 2));
}

void WriteDesktopIni(const std::wstring& folder, const wchar_t* vaultId, const wchar_t* viewId) {
    std::filesystem::create_directories(folder);
    const std::wstring ini = folder + L"\\desktop.ini";
    DeleteFileW(ini.c_str());
    WritePrivateProfileStringW(L"Vondrik", L"Other", L"1", ini.c_str());
    if (vaultId) WritePrivateProfileStringW(L"Vondrik", L"VaultID", vaultId, ini.c_str());
    if (viewId) WritePrivateProfileStringW(L"Vondrik", L"ViewID", viewId, ini.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());  // flush the profile cache
}

GUID GuidFromString(const wchar_t* text) {
    GUID guid{};
    if (FAILED(CLSIDFromString(text, &guid))) throw std::runtime_error("bad GUID text");
    return guid;
}

#include "tools/cachewriter/VaultWriter.h"

#include <filesystem>
#include <stdexcept>

#include "common/UniqueResource.h"
#include "common/Utf8.h"
#include "tools/cachewriter/FileBytes.h"
#include "settings/AppKey.h"
#include "settings/ViewIdentity.h"

namespace {

constexpr int kMoveAttempts = 1000;

UniqueHKey CreateKey(HKEY root, const std::wstring& path, REGSAM view = 0) {
    UniqueHKey key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS) {
        throw std::runtime_error("cannot create a registry key");
    }
    return key;
}

void AddAttributes(const std::wstring& path, DWORD added) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !SetFileAttributesW(path.c_str(), attributes | added)) {
        throw std::runtime_error("cannot set the attributes of a vault view");
    }
}

// Writes a file of its own beside path and moves it over path, so that a
// reader finds the old text or the new, never none. A reader that opened the
// file without sharing its deletion holds the move off until it closes it: try
// again, as any program that replaces a file others read must.
void ReplaceWholeFile(const std::wstring& path, const std::string& bytes, DWORD attributes) {
    const std::wstring written = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
    WriteFileBytes(written, bytes.data(), bytes.size(), attributes);
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
        if (attempt > 0) Sleep(1);
        if (MoveFileExW(written.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
    }
    DeleteFileW(written.c_str());
    throw std::runtime_error("cannot replace a desktop.ini");
}

void DateBackADay(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER then{{now.dwLowDateTime, now.dwHighDateTime}};
    then.QuadPart -= 24ULL * 3600 * 10'000'000;
    const FILETIME dayAgo{then.LowPart, then.HighPart};
    if (!file || !SetFileTime(file.Get(), &dayAgo, nullptr, &dayAgo)) throw std::runtime_error("cannot date a desktop.ini");
}

}  // namespace

HKEY RegistrationRoot(RegistrationPlace place) {
    return place == RegistrationPlace::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring RegistrationPath(RegistrationPlace place, const std::wstring& name) {
    std::wstring path = std::wstring(kAppKeyPath) + L"\\" +
                        (place == RegistrationPlace::Machine ? kMachineViewsKey : kUserViewsKey);
    return name.empty() ? path : path + L"\\" + name;
}

void SetRegistryValue(HKEY root, const std::wstring& path, const wchar_t* valueName, DWORD type, const void* data,
                      DWORD size, REGSAM view) {
    if (RegSetValueExW(CreateKey(root, path, view).Get(), valueName, 0, type, static_cast<const BYTE*>(data), size) !=
        ERROR_SUCCESS) {
        throw std::runtime_error("cannot write a registry value");
    }
}

void SetRegistryString(HKEY root, const std::wstring& path, const wchar_t* valueName, const std::wstring& text,
                       REGSAM view) {
    SetRegistryValue(root, path, valueName, REG_SZ, text.c_str(),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), view);
}

void RegisterVaultView(RegistrationPlace place, const std::wstring& name, const wchar_t* root) {
    CreateKey(RegistrationRoot(place), RegistrationPath(place, name));
    if (root) SetRegistryString(RegistrationRoot(place), RegistrationPath(place, name), kShellRootValue, root);
}

void SetRegistrationValue(RegistrationPlace place, const std::wstring& name, const wchar_t* valueName, DWORD type,
                          const void* data, DWORD size) {
    SetRegistryValue(RegistrationRoot(place), RegistrationPath(place, name), valueName, type, data, size);
}

void UnregisterVaultView(RegistrationPlace place, const std::wstring& name) noexcept {
    RegDeleteTreeW(RegistrationRoot(place), RegistrationPath(place, name).c_str());
}

void WriteDesktopIni(const std::wstring& folder, const wchar_t* vaultId, const wchar_t* viewId, IniAge age) {
    std::filesystem::create_directories(folder);
    const std::wstring ini = ViewIniPath(folder);
    if (!vaultId && !viewId) {
        DeleteFileW(ini.c_str());
    } else {
        // Replaced whole, not edited through the profile functions: they cannot
        // rewrite a hidden file.
        std::wstring text = std::wstring(L"[") + kViewIniSection + L"]\r\n";
        if (vaultId) text += std::wstring(kVaultIdKey) + L"=" + vaultId + L"\r\n";
        if (viewId) text += std::wstring(kViewIdKey) + L"=" + viewId + L"\r\n";
        ReplaceWholeFile(ini, Utf8(text), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        AddAttributes(folder, FILE_ATTRIBUTE_SYSTEM);
        if (age == IniAge::DayOld) DateBackADay(ini);
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());  // drops this process's kept copy
}

#pragma once
// Builds registered vault views for tests: a registration under the machine's
// "Databases" or the user's "Vaults" key and a view root with its desktop.ini.
#include <windows.h>

#include <string>

enum class RegistrationPlace { Machine, User };

// Writes app\Databases\name or app\Vaults\name with a REG_SZ "ShellRoot" of root
// (no "ShellRoot" when root is null).
void RegisterVaultView(RegistrationPlace place, const std::wstring& name, const wchar_t* root);
// Writes any value under the registration key.
void SetRegistrationValue(RegistrationPlace place, const std::wstring& name, const wchar_t* valueName, DWORD type,
                          const void* data, DWORD size);

// Writes folder\desktop.ini with section "Vondrik"; a null text leaves that key out.
void WriteDesktopIni(const std::wstring& folder, const wchar_t* vaultId, const wchar_t* viewId);

// Sets a value under root\path (created when missing) in the given registry view.
void SetRegistryValue(HKEY root, const std::wstring& path, const wchar_t* valueName, DWORD type, const void* data,
                      DWORD size, REGSAM view = 0);
void SetRegistryString(HKEY root, const std::wstring& path, const wchar_t* valueName, const std::wstring& text,
                       REGSAM view = 0);
// Reads a string value back; false when it is missing.
bool GetRegistryString(HKEY root, const std::wstring& path, const wchar_t* valueName, std::wstring& out,
                       REGSAM view = 0);

GUID GuidFromString(const wchar_t* text);

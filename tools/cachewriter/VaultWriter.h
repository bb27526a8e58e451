#pragma once
// Writes vault views as the host leaves them: a registration under the
// application key (the machine's or the user's) whose "ShellRoot" names the
// view root, and the root's desktop.ini naming the vault and the view. For the
// tests, the benchmark and the sample vault; the plug-in only reads them.
#include <windows.h>

#include <string>

enum class RegistrationPlace { Machine, User };

HKEY RegistrationRoot(RegistrationPlace place);
// app\Databases\name or app\Vaults\name; an empty name gives the place's own key.
std::wstring RegistrationPath(RegistrationPlace place, const std::wstring& name = {});

// Sets a value under root\path (created when missing) in the given registry
// view. Throws on failure, as every writer here does.
void SetRegistryValue(HKEY root, const std::wstring& path, const wchar_t* valueName, DWORD type, const void* data,
                      DWORD size, REGSAM view = 0);
void SetRegistryString(HKEY root, const std::wstring& path, const wchar_t* valueName, const std::wstring& text,
                       REGSAM view = 0);

// Creates the registration, with a REG_SZ "ShellRoot" of root (none when root is null).
void RegisterVaultView(RegistrationPlace place, const std::wstring& name, const wchar_t* root);
// Writes any value under the registration key.
void SetRegistrationValue(RegistrationPlace place, const std::wstring& name, const wchar_t* valueName, DWORD type,
                          const void* data, DWORD size);
void UnregisterVaultView(RegistrationPlace place, const std::wstring& name) noexcept;

// A view's identity is in practice written long before it is read; one
// written moments ago is read afresh until its write time has settled.
enum class IniAge { New, DayOld };

// Replaces folder\desktop.ini (creating the folder) with the identities; a
// null text leaves that key out. The file is hidden and the folder a system
// folder, as the shell needs to honour a desktop.ini.
void WriteDesktopIni(const std::wstring& folder, const wchar_t* vaultId, const wchar_t* viewId,
                     IniAge age = IniAge::New);

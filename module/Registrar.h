#pragma once
// Writes and removes the registry entries that a registry script describes.
//
// Register mode, key by key in script order: a key is opened for reading and
// writing, else for reading, else created; ForceRemove first deletes the key with
// everything below it (except the protected names such as CLSID); default and
// named values are set as REG_SZ. When a write fails the same script is applied
// in removal mode and the failure is returned.
//
// Removal mode: a key's listed values and subkeys go first; then the key is
// deleted unless it is NoRemove or still has subkeys (ones another tool added).
// A key that does not exist is skipped with everything listed below it.
// Registry errors come back as HRESULT_FROM_WIN32.
#include <windows.h>

#include <string_view>

#include "common/CString.h"
#include "module/RegistryScript.h"

// The AppID of the plug-in's classes, the module's common %APPID% replacement.
inline constexpr wchar_t kItemPluginAppId[] = L"{4231C08A-9AE3-4548-B4B1-58E4A90D14D8}";

HRESULT ApplyParsedRegistryScript(const RegistryScript& script, bool registerMode) noexcept;

// Parses text with the given replacements and applies it.
HRESULT ApplyRegistryScriptText(std::wstring_view text, const ScriptReplacements& replacements,
                                bool registerMode) noexcept;

// Applies the "REGISTRY" resource scriptId of the module this code is linked
// into, with the replacements Module and Module_Raw (its path, single quotes
// doubled) and APPID.
HRESULT ApplyRegistryScript(UINT scriptId, bool registerMode) noexcept;
// The same with replacements of the caller's, which are looked up first.
HRESULT ApplyRegistryScriptWithReplacements(UINT scriptId, bool registerMode,
                                            const ScriptReplacements& extra) noexcept;

// The module this code is linked into (the DLL, or a test program).
HMODULE ThisModule() noexcept;
// Its full path: the last system error when unavailable, 0x8007007A when it does
// not fit in MAX_PATH characters.
HRESULT GetThisModulePath(CString& path) noexcept;

#pragma once
// SettingsLight: the product's settings for one operation. It holds the
// application key four ways and caches five folder strings; everything is
// released when it is destroyed, and each new object reads the registry afresh.
#include <guiddef.h>

#include <vector>

#include "cache/Lst.h"
#include "common/CString.h"
#include "settings/PathKind.h"
#include "settings/Registry.h"

class SettingsLight {
public:
    SettingsLight() = default;
    SettingsLight(const SettingsLight&) = delete;
    SettingsLight& operator=(const SettingsLight&) = delete;
    // The strings go first, then the keys in the reverse of their order: members
    // are destroyed in reverse declaration order.
    ~SettingsLight() = default;

    // HKLM application key, read only, default registry view; null on failure.
    Registry* MachineKey() noexcept;
    // HKCU application key, created when missing, read and write; null on failure.
    Registry* UserKey() noexcept;

    // A folder (ending in a backslash), a file, or the empty string.
    CString GetPath(PathKind kind);

    // The language code of the product's resources.
    CString GetLanguage();

    // Vault view discovery.
    bool OpenVaultKey(const CString& name, Registry& vaultKey);
    CString GetViewRoot(const wchar_t* name);
    // Names of the registrations that have a "ShellRoot": the machine's, then the user's.
    std::vector<CString> RegisteredViewNames();
    bool ListVaultViews(Lst<CString>& names);
    bool FindVaultName(const GUID& vaultId, CString& name);

private:
    CString GetAppDataDir();
    CString GetInstallFolder(PathKind kind);
    CString ReadFolderValue(Registry* key, const wchar_t* valueName);
    Registry* MachineKeyInView(Registry& key, REGSAM viewFlag) noexcept;

    Registry userKey_;
    Registry machineKey_;
    Registry machineKey32_;
    Registry machineKey64_;
    CString location_;
    CString sharedLocation_;
    CString appDataDir_;
    CString location32_;
    CString location64_;
};

// The per-user data folder (ending in a backslash) that GetPath(PathKind::AppDataDir)
// gives, found the same way but not created; base is the application data folder
// it lies under. False, changing nothing, when no such folder is known.
bool FindDataFolder(CString& folder, CString* base = nullptr);

// The shell's special folder for csidl, created when missing; out changes only on success.
bool GetSpecialFolder(int csidl, CString& out);

#pragma once
// SettingsLight: the product's settings for one operation. It holds the
// application key four ways and caches five folder strings; everything is
// released when it is destroyed, and each new object reads the registry afresh.
#include <guiddef.h>

#include <vector>

#include "cache/Lst.h"
#include "common/CString.h"
#include "common/RequestTrace.h"
#include "settings/PathKind.h"
#include "settings/Registry.h"

// Where a vault view is registered: the machine's "Databases" or the user's "Vaults".
enum class ViewPlace { Machine, User };

// One registration subkey as the enumeration met it.
struct Registration {
    ViewPlace place = ViewPlace::Machine;
    CString name;
    bool opened = false;        // the subkey could be opened for reading
    bool hasShellRoot = false;  // only then is it a registered view
};

// The view root of a registered name, and where it came from.
struct ViewRootRead {
    bool registered = false;  // a registration with a "ShellRoot" value was found
    ViewPlace place = ViewPlace::User;
    DWORD type = REG_NONE;  // of "ShellRoot"
    CString stored;         // as stored, before environment references are expanded
    CString root;           // expanded, ending in a backslash; empty when unusable
};

// A registration as the vault lookup met it: the subkey, and for a registered
// view its "ShellRoot" as GetViewRoot reads it.
struct RegisteredView {
    Registration registration;
    ViewRootRead root;
};

class SettingsLight {
public:
    // A read-only request (diagnosis) creates nothing, neither the user's
    // application key nor a folder; a lookup then answers what it would answer
    // once they existed (a missing user key reads as the empty key it would be).
    SettingsLight() noexcept : readOnly_(ReadOnlyRequest()) {}
    SettingsLight(const SettingsLight&) = delete;
    SettingsLight& operator=(const SettingsLight&) = delete;
    // The strings go first, then the keys in the reverse of their order: members
    // are destroyed in reverse declaration order.
    ~SettingsLight() = default;

    // HKLM application key, read only, default registry view; null on failure.
    Registry* MachineKey() noexcept;
    // The application keys as far as this object has opened them, else null.
    const Registry* OpenMachineKey() const noexcept { return machineKey_.IsOpen() ? &machineKey_ : nullptr; }
    const Registry* OpenUserKey() const noexcept { return userKey_.IsOpen() ? &userKey_ : nullptr; }
    // False on a thread that acts for another user: the process's caches of
    // registrations, identities and folders are then neither read nor filled.
    // Asked once per object.
    bool UsesProcessCaches() noexcept;
    // For a caller that asked already.
    void SetProcessCaches(bool shared) noexcept { caches_ = shared ? Caches::Shared : Caches::Own; }
    // The generation of the user's settings that this operation trusts (one
    // wait for every notification, asked once per object); 0 when nothing may
    // be kept, as on a thread acting for another user.
    unsigned long long Generation() noexcept;
    // HKCU application key, created when missing, read and write; null on failure.
    // In a read-only request: opened for reading, never created.
    Registry* UserKey() noexcept;

    // A folder (ending in a backslash), a file, or the empty string.
    CString GetPath(PathKind kind);
    // GetPath(PathKind::AppDataDir) for the item cache, whose open finds out
    // whether the folder has gone (and then looks everything up afresh): a
    // kept answer is not checked on each use.
    CString CacheDataFolder();

    // The language code of the product's resources.
    CString GetLanguage();

    // Vault view discovery.
    bool OpenVaultKey(const CString& name, Registry& vaultKey, ViewPlace* place = nullptr);
    CString GetViewRoot(const wchar_t* name);
    ViewRootRead ReadViewRoot(const wchar_t* name);
    // Every registration subkey, the machine's first, then the user's, each
    // place in enumeration order. complete, when given, is cleared when a key
    // could not be opened or listed for another reason than being missing.
    std::vector<Registration> Registrations(bool* complete = nullptr);
    // Names of the registrations that have a "ShellRoot": the machine's, then the user's.
    std::vector<CString> RegisteredViewNames();
    bool ListVaultViews(Lst<CString>& names);
    bool FindVaultName(const GUID& vaultId, CString& name);

private:
    // Both application keys as the vault lookups need them; user is null when
    // it is missing and a read-only request stands it in for the empty key.
    bool ApplicationKeys(Registry*& machine, Registry*& user);
    bool UserKeyWouldBeCreated();
    CString GetAppDataDir();
    CString GetInstallFolder(PathKind kind);
    CString ReadFolderValue(Registry* key, const wchar_t* valueName);
    Registry* MachineKeyInView(Registry& key, REGSAM viewFlag) noexcept;

    bool readOnly_ = false;
    enum class Caches : unsigned char { Unknown, Shared, Own };
    Caches caches_ = Caches::Unknown;
    bool generationAsked_ = false;
    unsigned long long generation_ = 0;
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

// Where the per-user data folder's base came from.
enum class DataFolderBase { None, LocalAppData, RoamingAppData, AppDataVariable };

// Makes the next data folder lookup go to the shell again: for a caller that
// found the folder gone.
void ForgetDataFolder() noexcept;

// The shell's special folder for csidl, created when missing unless create is
// false; out changes only on success.
bool GetSpecialFolder(int csidl, CString& out, bool create = true);

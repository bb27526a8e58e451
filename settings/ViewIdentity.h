#pragma once
// The identities a vault view's desktop.ini carries.
#include <guiddef.h>

#include "common/CString.h"

enum class ViewIdentity : int {
    View = 1,   // "ViewID"
    Vault = 2,  // "VaultID"
};

// The section of a view root's desktop.ini that names the view and its vault,
// and its two keys.
inline constexpr wchar_t kViewIniSection[] = L"Vondrik";
inline constexpr wchar_t kViewIdKey[] = L"ViewID";
inline constexpr wchar_t kVaultIdKey[] = L"VaultID";

// One identity as the file holds it: the text read and the GUID parsed from it.
struct IdentityText {
    CString text;         // empty when the file, the section or the key is missing
    bool parsed = false;  // the text held all eleven GUID fields
    GUID guid{};
};

// folder\desktop.ini; a folder without a trailing backslash gets one.
CString ViewIniPath(const CString& folder);

// Reads the selected identity from folder\desktop.ini (section "Vondrik").
// out is written only on success; detail, when given, receives what was read.
bool ReadViewIdentity(const CString& folder, int which, GUID& out, IdentityText* detail = nullptr);
inline bool ReadViewIdentity(const CString& folder, ViewIdentity which, GUID& out, IdentityText* detail = nullptr) {
    return ReadViewIdentity(folder, static_cast<int>(which), out, detail);
}

// Both identities of a view root.
struct ViewIdentities {
    bool hasView = false;
    bool hasVault = false;
    GUID view{};
    GUID vault{};

    // A registered view counts only when its root names both a view and a vault.
    bool Listed() const noexcept { return hasView && hasVault; }
    bool IsViewOf(const GUID& vaultId) const noexcept { return Listed() && IsEqualGUID(vault, vaultId); }
};
ViewIdentities ReadViewIdentities(const CString& folder, IdentityText* viewDetail = nullptr,
                                  IdentityText* vaultDetail = nullptr);

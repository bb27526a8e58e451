#pragma once
// The identities a vault view's desktop.ini carries.
#include <guiddef.h>

#include "common/CString.h"

enum class ViewIdentity : int {
    View = 1,   // "ViewID"
    Vault = 2,  // "VaultID"
};

// Reads the selected identity from folder\desktop.ini (section "Vondrik").
// out is written only on success.
bool ReadViewIdentity(const CString& folder, int which, GUID& out);
inline bool ReadViewIdentity(const CString& folder, ViewIdentity which, GUID& out) {
    return ReadViewIdentity(folder, static_cast<int>(which), out);
}

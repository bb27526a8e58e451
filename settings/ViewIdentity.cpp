#include "settings/ViewIdentity.h"

#include <windows.h>

#include "settings/GuidText.h"

CString ViewIniPath(const CString& folder) {
    CString iniPath = folder;
    AppendBackslashIfMissing(iniPath);
    iniPath += L"desktop.ini";
    return iniPath;
}

bool ReadViewIdentity(const CString& folder, int which, GUID& out, IdentityText* detail) {
    const wchar_t* keyName;
    switch (which) {
        case static_cast<int>(ViewIdentity::View): keyName = kViewIdKey; break;
        case static_cast<int>(ViewIdentity::Vault): keyName = kVaultIdKey; break;
        default: return false;
    }

    wchar_t text[50] = {};
    const DWORD chars = GetPrivateProfileStringW(kViewIniSection, keyName, L"", text, 50, ViewIniPath(folder).c_str());
    if (detail) *detail = IdentityText{CString(text, chars)};
    if (chars == 0) return false;

    // Read up to its first NUL, as it always was.
    GuidFields fields;
    if (!ParseGuidText(text, fields)) return false;
    out.Data1 = fields.data1;
    out.Data2 = fields.data2;
    out.Data3 = fields.data3;
    for (int i = 0; i < 8; ++i) out.Data4[i] = fields.data4[i];
    if (detail) {
        detail->parsed = true;
        detail->guid = out;
    }
    return true;
}

ViewIdentities ReadViewIdentities(const CString& folder, IdentityText* viewDetail, IdentityText* vaultDetail) {
    ViewIdentities ids;
    ids.hasView = ReadViewIdentity(folder, ViewIdentity::View, ids.view, viewDetail);
    ids.hasVault = ReadViewIdentity(folder, ViewIdentity::Vault, ids.vault, vaultDetail);
    return ids;
}

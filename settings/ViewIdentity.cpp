#include "settings/ViewIdentity.h"

#include <windows.h>

#include <cwchar>

CString ViewIniPath(const CString& folder) {
    CString iniPath = folder;
    AppendBackslashIfMissing(iniPath);
    iniPath += L"desktop.ini";
    return iniPath;
}

bool ReadViewIdentity(const CString& folder, int which, GUID& out, IdentityText* detail) {
    const wchar_t* keyName;
    switch (which) {
        case static_cast<int>(ViewIdentity::View): keyName = L"ViewID"; break;
        case static_cast<int>(ViewIdentity::Vault): keyName = L"VaultID"; break;
        default: return false;
    }

    wchar_t text[50] = {};
    const DWORD chars = GetPrivateProfileStringW(L"Vondrik", keyName, L"", text, 50, ViewIniPath(folder).c_str());
    if (detail) *detail = IdentityText{CString(text, chars)};
    if (chars == 0) return false;

    unsigned int d1 = 0, d2 = 0, d3 = 0, b[8] = {};
    const int fields = swscanf(text, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", &d1, &d2, &d3, &b[0],
                               &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]);
    if (fields < 11) return false;

    out.Data1 = d1;
    out.Data2 = static_cast<unsigned short>(d2);
    out.Data3 = static_cast<unsigned short>(d3);
    for (int i = 0; i < 8; ++i) out.Data4[i] = static_cast<unsigned char>(b[i]);
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

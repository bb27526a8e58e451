#pragma once
// The registry entries of self-registration, all under HKEY_CLASSES_ROOT: one
// group for the AppID and one per class, each in the order it is written.
// DllRegisterServer applies these rows, and the installer package is generated
// from them, so the two cannot drift apart. The header needs nothing but the
// standard library: a build-time tool compiled for the build machine reads it too.
#include <span>

namespace registration {

enum Marks : unsigned {
    kNoMarks = 0,
    kForceRemove = 1,  // deleted with everything below it before it is written
    kNoRemove = 2,     // never deleted by removal
};

// Stands for the DLL's full path in a row's data; compared by address.
inline constexpr wchar_t kModulePath[] = L"<module path>";

// A key row has no value name: it creates the key and, when data is set, writes
// the key's default value. A value row writes one named REG_SZ value on a key
// that an earlier row of its group created. Marks belong to key rows.
struct Row {
    const wchar_t* key;
    const wchar_t* valueName;
    const wchar_t* data;
    unsigned marks;
};

#define ITEMPLUGIN_APPID L"{4231C08A-9AE3-4548-B4B1-58E4A90D14D8}"
#define ITEMPLUGIN_LIBID L"{B9D48100-7F53-4E3E-B183-CFCA0D017ABB}"

inline constexpr const wchar_t* kAppId = ITEMPLUGIN_APPID;
inline constexpr const wchar_t* kLibId = ITEMPLUGIN_LIBID;

inline constexpr Row kAppIdRows[] = {
    {L"AppID", nullptr, nullptr, kNoRemove},
    {L"AppID\\" ITEMPLUGIN_APPID, nullptr, L"ItemPlugin", kNoMarks},
    {L"AppID\\ItemPlugin.DLL", nullptr, nullptr, kNoMarks},
    {L"AppID\\ItemPlugin.DLL", L"AppID", ITEMPLUGIN_APPID, kNoMarks},
};

inline constexpr Row kItemFormatRows[] = {
    {L"ItemPlugin.ItemFormat.1", nullptr, L"ItemFormat Class", kNoMarks},
    {L"ItemPlugin.ItemFormat.1\\CLSID", nullptr, L"{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}", kNoMarks},
    {L"ItemPlugin.ItemFormat", nullptr, L"ItemFormat Class", kNoMarks},
    {L"ItemPlugin.ItemFormat\\CLSID", nullptr, L"{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}", kNoMarks},
    {L"ItemPlugin.ItemFormat\\CurVer", nullptr, L"ItemPlugin.ItemFormat.1", kNoMarks},
    {L"CLSID", nullptr, nullptr, kNoRemove},
    {L"CLSID\\{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}", nullptr, L"ItemFormat Class", kForceRemove},
    {L"CLSID\\{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}\\ProgID", nullptr, L"ItemPlugin.ItemFormat.1", kNoMarks},
    {L"CLSID\\{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}\\VersionIndependentProgID", nullptr, L"ItemPlugin.ItemFormat",
     kNoMarks},
    {L"CLSID\\{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}\\InprocServer32", nullptr, kModulePath, kNoMarks},
    {L"CLSID\\{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}\\InprocServer32", L"ThreadingModel", L"Both", kNoMarks},
    {L"CLSID\\{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}", L"AppID", ITEMPLUGIN_APPID, kNoMarks},
    {L"CLSID\\{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}\\TypeLib", nullptr, ITEMPLUGIN_LIBID, kNoMarks},
};

inline constexpr Row kItemFileRows[] = {
    {L"ItemPlugin.ItemFile.1", nullptr, L"ItemFile Class", kNoMarks},
    {L"ItemPlugin.ItemFile.1\\CLSID", nullptr, L"{87E83D5B-CDA0-47F5-A7DC-EC6471448680}", kNoMarks},
    {L"ItemPlugin.ItemFile", nullptr, L"ItemFile Class", kNoMarks},
    {L"ItemPlugin.ItemFile\\CLSID", nullptr, L"{87E83D5B-CDA0-47F5-A7DC-EC6471448680}", kNoMarks},
    {L"ItemPlugin.ItemFile\\CurVer", nullptr, L"ItemPlugin.ItemFile.1", kNoMarks},
    {L"CLSID", nullptr, nullptr, kNoRemove},
    {L"CLSID\\{87E83D5B-CDA0-47F5-A7DC-EC6471448680}", nullptr, L"ItemFile Class", kForceRemove},
    {L"CLSID\\{87E83D5B-CDA0-47F5-A7DC-EC6471448680}\\ProgID", nullptr, L"ItemPlugin.ItemFile.1", kNoMarks},
    {L"CLSID\\{87E83D5B-CDA0-47F5-A7DC-EC6471448680}\\VersionIndependentProgID", nullptr, L"ItemPlugin.ItemFile",
     kNoMarks},
    {L"CLSID\\{87E83D5B-CDA0-47F5-A7DC-EC6471448680}\\InprocServer32", nullptr, kModulePath, kNoMarks},
    {L"CLSID\\{87E83D5B-CDA0-47F5-A7DC-EC6471448680}\\InprocServer32", L"ThreadingModel", L"Both", kNoMarks},
    {L"CLSID\\{87E83D5B-CDA0-47F5-A7DC-EC6471448680}", L"AppID", ITEMPLUGIN_APPID, kNoMarks},
    {L"CLSID\\{87E83D5B-CDA0-47F5-A7DC-EC6471448680}\\TypeLib", nullptr, ITEMPLUGIN_LIBID, kNoMarks},
};

inline constexpr Row kItemPreviewRows[] = {
    {L"ItemPlugin.ItemPreview.1", nullptr, L"ItemPreview Class", kNoMarks},
    {L"ItemPlugin.ItemPreview.1\\CLSID", nullptr, L"{53723AC8-432D-4A25-AF06-7B67EC2F1826}", kNoMarks},
    {L"ItemPlugin.ItemPreview", nullptr, L"ItemPreview Class", kNoMarks},
    {L"ItemPlugin.ItemPreview\\CLSID", nullptr, L"{53723AC8-432D-4A25-AF06-7B67EC2F1826}", kNoMarks},
    {L"ItemPlugin.ItemPreview\\CurVer", nullptr, L"ItemPlugin.ItemPreview.1", kNoMarks},
    {L"CLSID", nullptr, nullptr, kNoRemove},
    {L"CLSID\\{53723AC8-432D-4A25-AF06-7B67EC2F1826}", nullptr, L"ItemPreview Class", kForceRemove},
    {L"CLSID\\{53723AC8-432D-4A25-AF06-7B67EC2F1826}\\ProgID", nullptr, L"ItemPlugin.ItemPreview.1", kNoMarks},
    {L"CLSID\\{53723AC8-432D-4A25-AF06-7B67EC2F1826}\\VersionIndependentProgID", nullptr, L"ItemPlugin.ItemPreview",
     kNoMarks},
    {L"CLSID\\{53723AC8-432D-4A25-AF06-7B67EC2F1826}\\Programmable", nullptr, nullptr, kForceRemove},
    {L"CLSID\\{53723AC8-432D-4A25-AF06-7B67EC2F1826}\\InprocServer32", nullptr, kModulePath, kNoMarks},
    {L"CLSID\\{53723AC8-432D-4A25-AF06-7B67EC2F1826}\\InprocServer32", L"ThreadingModel", L"Apartment", kNoMarks},
    {L"CLSID\\{53723AC8-432D-4A25-AF06-7B67EC2F1826}", L"AppID", ITEMPLUGIN_APPID, kNoMarks},
    {L"CLSID\\{53723AC8-432D-4A25-AF06-7B67EC2F1826}\\TypeLib", nullptr, ITEMPLUGIN_LIBID, kNoMarks},
};

#undef ITEMPLUGIN_APPID
#undef ITEMPLUGIN_LIBID

// Every group in the order DllRegisterServer applies them: the AppID, then the
// classes in the order of the object map.
inline constexpr std::span<const Row> kAllGroups[] = {kAppIdRows, kItemFileRows, kItemFormatRows, kItemPreviewRows};

}  // namespace registration

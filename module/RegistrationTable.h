#pragma once
// The registry entries of self-registration, all under HKEY_CLASSES_ROOT: one
// group for the AppID and one per class, each in the order it is written.
// DllRegisterServer applies these rows, and the installer package is generated
// from them, so the two cannot drift apart. The header needs nothing but the
// standard library: a build-time tool compiled for the build machine reads it too.
#include <span>
#include <string_view>

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

// One class: its ProgIDs, CLSID key, server and library, written in this order;
// the rows given after the threading model (none, or each followed by a comma)
// go after VersionIndependentProgID.
#define ITEMPLUGIN_CLASS_ROWS(NAME, CLSID, THREADING_MODEL, ...)                                                     \
    {L"ItemPlugin." NAME L".1", nullptr, NAME L" Class", kNoMarks},                                                  \
        {L"ItemPlugin." NAME L".1\\CLSID", nullptr, CLSID, kNoMarks},                                                \
        {L"ItemPlugin." NAME, nullptr, NAME L" Class", kNoMarks},                                                    \
        {L"ItemPlugin." NAME L"\\CLSID", nullptr, CLSID, kNoMarks},                                                  \
        {L"ItemPlugin." NAME L"\\CurVer", nullptr, L"ItemPlugin." NAME L".1", kNoMarks},                             \
        {L"CLSID", nullptr, nullptr, kNoRemove},                                                                     \
        {L"CLSID\\" CLSID, nullptr, NAME L" Class", kForceRemove},                                                   \
        {L"CLSID\\" CLSID L"\\ProgID", nullptr, L"ItemPlugin." NAME L".1", kNoMarks},                                \
        {L"CLSID\\" CLSID L"\\VersionIndependentProgID", nullptr, L"ItemPlugin." NAME, kNoMarks},                    \
        __VA_ARGS__{L"CLSID\\" CLSID L"\\InprocServer32", nullptr, kModulePath, kNoMarks},                           \
        {L"CLSID\\" CLSID L"\\InprocServer32", L"ThreadingModel", THREADING_MODEL, kNoMarks},                        \
        {L"CLSID\\" CLSID, L"AppID", ITEMPLUGIN_APPID, kNoMarks},                                                    \
        {L"CLSID\\" CLSID L"\\TypeLib", nullptr, ITEMPLUGIN_LIBID, kNoMarks},

#define ITEMPLUGIN_ITEMFORMAT_CLSID L"{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}"
#define ITEMPLUGIN_ITEMFILE_CLSID L"{87E83D5B-CDA0-47F5-A7DC-EC6471448680}"
#define ITEMPLUGIN_ITEMPREVIEW_CLSID L"{53723AC8-432D-4A25-AF06-7B67EC2F1826}"

inline constexpr Row kItemFormatRows[] = {ITEMPLUGIN_CLASS_ROWS(L"ItemFormat", ITEMPLUGIN_ITEMFORMAT_CLSID, L"Both")};
inline constexpr Row kItemFileRows[] = {ITEMPLUGIN_CLASS_ROWS(L"ItemFile", ITEMPLUGIN_ITEMFILE_CLSID, L"Both")};
inline constexpr Row kItemPreviewRows[] = {ITEMPLUGIN_CLASS_ROWS(
    L"ItemPreview", ITEMPLUGIN_ITEMPREVIEW_CLSID, L"Apartment",
    {L"CLSID\\" ITEMPLUGIN_ITEMPREVIEW_CLSID L"\\Programmable", nullptr, nullptr, kForceRemove}, )};

// Stands for the DLL's folder, without a trailing backslash, in a row's data.
inline constexpr wchar_t kModuleFolder[] = L"<module folder>";
// The standard marshaler of automation interfaces (IDispatch-based, dual or
// oleautomation) that RegisterTypeLib names.
#define ITEMPLUGIN_UNIVERSAL_MARSHALER L"{00020424-0000-0000-C000-000000000046}"

// What RegisterTypeLib writes for the DLL's type library (module/ItemPlugin.idl:
// version 1.0, lcid 0; FLAGS 8 is LIBFLAG_FHASDISKIMAGE). DllRegisterServer
// leaves these to RegisterTypeLib; the installer package writes them as rows,
// and the registration tests hold them equal to what RegisterTypeLib wrote.
inline constexpr Row kTypeLibraryRows[] = {
    {L"TypeLib\\" ITEMPLUGIN_LIBID L"\\1.0", nullptr, L"ItemPlugin 1.0 Type Library", kNoMarks},
    {L"TypeLib\\" ITEMPLUGIN_LIBID L"\\1.0\\0\\win64", nullptr, kModulePath, kNoMarks},
    {L"TypeLib\\" ITEMPLUGIN_LIBID L"\\1.0\\FLAGS", nullptr, L"8", kNoMarks},
    {L"TypeLib\\" ITEMPLUGIN_LIBID L"\\1.0\\HELPDIR", nullptr, kModuleFolder, kNoMarks},
};

// One automation interface of the library, as RegisterTypeLib writes it in the
// 64-bit and the 32-bit registry view.
#define ITEMPLUGIN_AUTOMATION_INTERFACE_ROWS(NAME, IID)                                                               \
    {L"Interface\\" IID, nullptr, NAME, kNoMarks},                                                                 \
        {L"Interface\\" IID L"\\ProxyStubClsid", nullptr, ITEMPLUGIN_UNIVERSAL_MARSHALER, kNoMarks},               \
        {L"Interface\\" IID L"\\ProxyStubClsid32", nullptr, ITEMPLUGIN_UNIVERSAL_MARSHALER, kNoMarks},             \
        {L"Interface\\" IID L"\\TypeLib", nullptr, ITEMPLUGIN_LIBID, kNoMarks},                                    \
        {L"Interface\\" IID L"\\TypeLib", L"Version", L"1.0", kNoMarks},

inline constexpr Row kAutomationInterfaceRows[] = {
    ITEMPLUGIN_AUTOMATION_INTERFACE_ROWS(L"IItemPreview", L"{6F81CF34-11AF-4171-BB81-E87A4105CB4E}")};

#undef ITEMPLUGIN_CLASS_ROWS
#undef ITEMPLUGIN_AUTOMATION_INTERFACE_ROWS
#undef ITEMPLUGIN_UNIVERSAL_MARSHALER
#undef ITEMPLUGIN_ITEMFORMAT_CLSID
#undef ITEMPLUGIN_ITEMFILE_CLSID
#undef ITEMPLUGIN_ITEMPREVIEW_CLSID
#undef ITEMPLUGIN_APPID
#undef ITEMPLUGIN_LIBID

// Every group in the order DllRegisterServer applies them: the AppID, then the
// classes in the order of the object map.
inline constexpr std::span<const Row> kAllGroups[] = {kAppIdRows, kItemFileRows, kItemFormatRows, kItemPreviewRows};

// Keys that ForceRemove never deletes, whatever a row says: removing one
// would wreck the whole hive. Compared with the last name of a key's path,
// ignoring ASCII case (the names are ASCII).
inline constexpr const wchar_t* kProtectedKeyNames[] = {
    L"AppID", L"CLSID", L"Component Categories", L"FileType", L"Interface", L"Hardware",
    L"Mime",  L"SAM",   L"SECURITY",             L"SYSTEM",   L"Software",  L"TypeLib",
};

constexpr bool IsProtectedKey(std::wstring_view keyPath) {
    const size_t slash = keyPath.rfind(L'\\');
    const std::wstring_view name = slash == std::wstring_view::npos ? keyPath : keyPath.substr(slash + 1);
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    for (const std::wstring_view protectedName : kProtectedKeyNames) {
        if (protectedName.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i) same = lower(name[i]) == lower(protectedName[i]);
        if (same) return true;
    }
    return false;
}

}  // namespace registration

// DllRegisterServer and DllUnregisterServer of the built DLL against the test
// prefix's registry, and COM activation through that registration.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <span>
#include <tuple>

#include "PlxHostInterfaces.h"
#include "common/ComPtr.h"
#include "common/ProductVersion.h"
#include "common/UniqueResource.h"
#include "module/RegistrationTable.h"
#include "tests/module/PluginDll.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/VaultFixture.h"

namespace {

const std::wstring kAppId = L"{4231C08A-9AE3-4548-B4B1-58E4A90D14D8}";
const std::wstring kLibId = L"{B9D48100-7F53-4E3E-B183-CFCA0D017ABB}";
const std::wstring kTypeLibWin64 = L"TypeLib\\" + kLibId + L"\\1.0\\0\\win64";

struct ClassInfo {
    std::wstring name, clsid, threadingModel;
    bool programmable;
    std::wstring Key() const { return L"CLSID\\" + clsid; }
    std::wstring ProgId() const { return L"ItemPlugin." + name; }
};
const ClassInfo kClasses[] = {
    {L"ItemFormat", L"{BAD5E99B-0E6A-4AAA-81E2-78B346DEB9F9}", L"Both", false},
    {L"ItemFile", L"{87E83D5B-CDA0-47F5-A7DC-EC6471448680}", L"Both", false},
    {L"ItemPreview", L"{53723AC8-432D-4A25-AF06-7B67EC2F1826}", L"Apartment", true},
};
const ClassInfo& kFormat = kClasses[0];
const ClassInfo& kFile = kClasses[1];
const ClassInfo& kPreview = kClasses[2];

std::vector<RegistrySnapshot::Place> TouchedKeys() {
    std::vector<std::wstring> paths = {L"AppID\\" + kAppId, L"AppID\\ItemPlugin.DLL", L"TypeLib\\" + kLibId,
                                       // type library registration also records the library's interfaces
                                       L"Interface\\{E31675DA-A2BA-4C7F-8844-885D8AD7AE90}",
                                       L"Interface\\{5C605B55-9198-4571-B2B2-7772DC9F492C}",
                                       L"Interface\\{6F81CF34-11AF-4171-BB81-E87A4105CB4E}"};
    for (const auto& c : kClasses) paths.insert(paths.end(), {c.Key(), c.ProgId(), c.ProgId() + L".1"});
    std::vector<RegistrySnapshot::Place> places;
    for (auto& path : paths) places.push_back({HKEY_CLASSES_ROOT, std::move(path), 0});
    return places;
}

using Entry = std::tuple<std::wstring, std::wstring, std::wstring>;  // key, value name ("" default), data

// Every key (with an empty name and no data) and every REG_SZ value below path, in one registry view.
void Collect(const std::wstring& path, REGSAM view, std::set<Entry>& out) {
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) return;
    out.insert({path, L"<key>", L""});
    wchar_t name[256], data[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = 256, bytes = sizeof(data) - sizeof(wchar_t), type = 0;
        if (RegEnumValueW(key.Get(), i, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) !=
            ERROR_SUCCESS) {
            break;
        }
        data[bytes / sizeof(wchar_t)] = 0;
        out.insert({path, name, type == REG_SZ ? data : L"<not REG_SZ>"});
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = 256;
        if (RegEnumKeyExW(key.Get(), i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        Collect(path + L"\\" + name, view, out);
    }
}

// What the rows say, with the placeholders for the DLL's path and folder filled in.
void Expect(std::span<const registration::Row> rows, const std::wstring& root, const std::wstring& dll,
            std::set<Entry>& out) {
    for (const registration::Row& row : rows) {
        for (std::wstring key = row.key; key.size() >= root.size(); key = key.substr(0, key.rfind(L'\\'))) {
            out.insert({key, L"<key>", L""});
        }
        const std::wstring data = row.data == registration::kModulePath     ? dll
                                  : row.data == registration::kModuleFolder ? dll.substr(0, dll.rfind(L'\\'))
                                                                            : row.data;
        out.insert({row.key, row.valueName ? row.valueName : L"", data});
    }
}

HRESULT CallExport(HMODULE dll, bool registerMode) {
    const auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(
        GetProcAddress(dll, registerMode ? "DllRegisterServer" : "DllUnregisterServer")));
    return fn ? fn() : HRESULT_FROM_WIN32(GetLastError());
}

// args: DLL path, "register" or "unregister"; the exit code is the export's result.
ITEMPLUGIN_CHILD_MODE(call_export, L"call-export") {
    UniqueHModule dll(LoadLibraryW(args.at(0).c_str()));
    if (!dll) return static_cast<int>(HRESULT_FROM_WIN32(GetLastError()));
    return static_cast<int>(CallExport(dll.Get(), args.at(1) == L"register"));
}

bool KeyExists(const std::wstring& path) {
    UniqueHKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::wstring Read(const std::wstring& path, const wchar_t* valueName = nullptr) {
    std::wstring text;
    return GetRegistryString(HKEY_CLASSES_ROOT, path, valueName, text) ? text : L"<missing>";
}

std::set<std::wstring> Subkeys(const std::wstring& path) {
    std::set<std::wstring> names;
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return names;
    wchar_t name[256];
    DWORD chars = 256;
    for (DWORD i = 0; RegEnumKeyExW(key.Get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, chars = 256) {
        names.insert(name);
    }
    return names;
}

void ExpectClassRegistered(const ClassInfo& c, const std::wstring& dllPath) {
    SCOPED_TRACE(c.name);
    const std::wstring description = c.name + L" Class";
    EXPECT_EQ(Read(c.ProgId() + L".1"), description);
    EXPECT_EQ(Read(c.ProgId() + L".1\\CLSID"), c.clsid);
    EXPECT_EQ(Read(c.ProgId()), description);
    EXPECT_EQ(Read(c.ProgId() + L"\\CLSID"), c.clsid);
    EXPECT_EQ(Read(c.ProgId() + L"\\CurVer"), c.ProgId() + L".1");
    EXPECT_EQ(Read(c.Key()), description);
    EXPECT_EQ(Read(c.Key(), L"AppID"), kAppId);
    EXPECT_EQ(Read(c.Key() + L"\\ProgID"), c.ProgId() + L".1");
    EXPECT_EQ(Read(c.Key() + L"\\VersionIndependentProgID"), c.ProgId());
    EXPECT_EQ(Read(c.Key() + L"\\InprocServer32"), dllPath);
    EXPECT_EQ(Read(c.Key() + L"\\InprocServer32", L"ThreadingModel"), c.threadingModel);
    EXPECT_EQ(Read(c.Key() + L"\\TypeLib"), kLibId);
    std::set<std::wstring> subkeys = {L"ProgID", L"VersionIndependentProgID", L"InprocServer32", L"TypeLib"};
    if (c.programmable) subkeys.insert(L"Programmable");
    EXPECT_EQ(Subkeys(c.Key()), subkeys);
}

void ExpectClassRemoved(const ClassInfo& c) {
    EXPECT_FALSE(KeyExists(c.Key())) << c.name;
    EXPECT_FALSE(KeyExists(c.ProgId())) << c.name;
    EXPECT_FALSE(KeyExists(c.ProgId() + L".1")) << c.name;
}

class Registration : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dll_) << "ItemPlugin.dll not found beside the test program"; }
    void TearDown() override { SetThreadLocale(savedLocale_); }
    HRESULT Register() { return CallExport(dll_.Get(), true); }
    HRESULT Unregister() { return CallExport(dll_.Get(), false); }

    RegistrySnapshot snapshot_{TouchedKeys()};
    UniqueHModule dll_{LoadLibraryW(PluginDll::Path().c_str())};
    LCID savedLocale_ = GetThreadLocale();
};

TEST_F(Registration, RegisterWritesEveryEntryAgainAndUnregisterRemovesThemAll) {
    ASSERT_EQ(Register(), S_OK);
    SetRegistryString(HKEY_CLASSES_ROOT, kFormat.Key() + L"\\Stale", L"Old", L"x");
    SetRegistryString(HKEY_CLASSES_ROOT, kFormat.Key(), L"Old", L"x");
    ASSERT_EQ(Register(), S_OK);
    EXPECT_EQ(Read(L"AppID\\" + kAppId), L"ItemPlugin");
    EXPECT_EQ(Read(L"AppID\\ItemPlugin.DLL", L"AppID"), kAppId);
    for (const auto& c : kClasses) ExpectClassRegistered(c, PluginDll::Path());
    EXPECT_EQ(Read(kFormat.Key(), L"Old"), L"<missing>");
    EXPECT_EQ(Read(kTypeLibWin64), PluginDll::Path());

    ASSERT_EQ(Unregister(), S_OK);
    for (const auto& c : kClasses) ExpectClassRemoved(c);
    EXPECT_FALSE(KeyExists(L"AppID\\" + kAppId));
    EXPECT_FALSE(KeyExists(L"AppID\\ItemPlugin.DLL"));
    EXPECT_FALSE(KeyExists(L"TypeLib\\" + kLibId));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_TRUE(KeyExists(L"AppID"));

    // Nothing left to remove, the type library included, is no error.
    EXPECT_EQ(Unregister(), S_OK);
}

// The installer package writes the type library's rows from the registration
// table: they must be exactly what RegisterTypeLib writes, key for key.
TEST_F(Registration, TypeLibraryRowsOfTheTableAreWhatRegisterTypeLibWrites) {
    ASSERT_EQ(Register(), S_OK);
    const std::wstring library = L"TypeLib\\" + kLibId;
    std::set<Entry> written, expected;
    Collect(library, KEY_WOW64_64KEY, written);
    Expect(registration::kTypeLibraryRows, library, PluginDll::Path(), expected);
    EXPECT_EQ(written, expected);
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        written.clear();
        expected.clear();
        const std::wstring first = registration::kAutomationInterfaceRows[0].key;
        Collect(first, view, written);
        Expect(registration::kAutomationInterfaceRows, first, PluginDll::Path(), expected);
        EXPECT_EQ(written, expected) << (view == KEY_WOW64_32KEY ? "32-bit view" : "64-bit view");
    }
    ASSERT_EQ(Unregister(), S_OK);
}

TEST_F(Registration, ClassKeyWithAnotherToolsSubkeySurvivesUnregistration) {
    ASSERT_EQ(Register(), S_OK);
    SetRegistryString(HKEY_CLASSES_ROOT, kFile.Key() + L"\\Implemented Categories\\{00000000-0000-0000-0000-000000000001}",
                      nullptr, L"");
    ASSERT_EQ(Unregister(), S_OK);
    EXPECT_EQ(Subkeys(kFile.Key()), std::set<std::wstring>{L"Implemented Categories"});
    EXPECT_EQ(Read(kFile.Key(), L"AppID"), L"<missing>");
    EXPECT_FALSE(KeyExists(kFile.ProgId()));
}

TEST_F(Registration, TypeLibraryThatCannotBeRemovedFailsUnregistrationAndKeepsAppId) {
    ASSERT_EQ(Register(), S_OK);
    // Still registered, but for a file that is gone: the platform cannot load the
    // library to remove what it recorded, and refuses.
    SetRegistryString(HKEY_CLASSES_ROOT, kTypeLibWin64, nullptr, PluginDll::Path() + L".gone");
    const GUID libId = GuidFromString(kLibId.c_str());
    const HRESULT refused = UnRegisterTypeLib(libId, 1, 0, 0, SYS_WIN64);
    ASSERT_TRUE(FAILED(refused));

    ASSERT_TRUE(SetThreadLocale(0x0407));
    EXPECT_EQ(Unregister(), refused);
    EXPECT_EQ(GetThreadLocale(), 0x0407u);
    for (const auto& c : kClasses) ExpectClassRemoved(c);
    EXPECT_EQ(Read(L"AppID\\" + kAppId), L"ItemPlugin");
    EXPECT_EQ(Read(L"AppID\\ItemPlugin.DLL", L"AppID"), kAppId);
}

// A volatile key cannot take the non-volatile subkeys the ItemFormat script writes.
TEST_F(Registration, FailedClassScriptEndsRegistrationAndRestoresThreadLocale) {
    UniqueHKey blocker;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (kFormat.ProgId() + L".1").c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, blocker.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_TRUE(SetThreadLocale(0x0407));
    EXPECT_EQ(Register(), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_EQ(GetThreadLocale(), 0x0407u);
    EXPECT_EQ(Read(L"AppID\\" + kAppId), L"ItemPlugin");
    ExpectClassRegistered(kFile, PluginDll::Path());  // before ItemFormat in the object map
    ExpectClassRemoved(kFormat);
    ExpectClassRemoved(kPreview);
    EXPECT_FALSE(KeyExists(L"TypeLib\\" + kLibId));
}

TEST_F(Registration, PathWithSingleQuoteReachesTheRegistryUnchanged) {
    TempFolder temp(L"reg");
    const std::wstring folder = temp / L"it's here";
    const std::wstring copy = folder + L"\\ItemPlugin.dll";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(PluginDll::Path().c_str(), copy.c_str(), FALSE));

    for (const wchar_t* mode : {L"register", L"unregister"}) {
        ChildProcess child(L"call-export", {copy, mode});
        ASSERT_TRUE(child.Wait(60000));
        ASSERT_EQ(static_cast<HRESULT>(child.ExitCode()), S_OK) << mode;
        if (mode == std::wstring(L"register")) {
            for (const auto& c : kClasses) EXPECT_EQ(Read(c.Key() + L"\\InprocServer32"), copy);
            EXPECT_EQ(Read(kTypeLibWin64), copy);
        }
    }
    for (const auto& c : kClasses) ExpectClassRemoved(c);
}

std::wstring Widen(const char* text) { return std::wstring(text, text + std::strlen(text)); }

// Every binary the package ships carries the build's version and the maker's
// name (the package's Manufacturer); the DLL announces self-registration with
// the empty "OLESelfRegister" value, each tool has its application manifest.
TEST_F(Registration, ShippedBinariesCarryTheBuildVersion) {
    const std::wstring dll = PluginDll::Path();
    const std::wstring folder = dll.substr(0, dll.rfind(L'\\') + 1);
    const DWORD versionMs = MAKELONG(ITEMPLUGIN_VERSION_MINOR, ITEMPLUGIN_VERSION_MAJOR);
    const DWORD versionLs = MAKELONG(0, ITEMPLUGIN_VERSION_BUILD);
    for (const std::wstring name : {L"ItemPlugin.dll", L"itemhost.exe", L"itemcache.exe"}) {
        SCOPED_TRACE(name);
        const std::wstring path = folder + name;
        const bool isDll = name == L"ItemPlugin.dll";
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
        ASSERT_NE(size, 0u);
        std::vector<BYTE> info(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, versionMs);
        EXPECT_EQ(fixed->dwFileVersionLS, versionLs);
        EXPECT_EQ(fixed->dwProductVersionMS, versionMs);
        EXPECT_EQ(fixed->dwProductVersionLS, versionLs);
        EXPECT_EQ(fixed->dwFileType, isDll ? VFT_DLL : VFT_APP);

        const auto text = [&](const wchar_t* key) -> std::wstring {
            wchar_t* value = nullptr;
            UINT chars = 0;
            const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
            if (!VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars)) return L"<none>";
            return std::wstring(value, wcsnlen(value, chars));
        };
        EXPECT_EQ(text(L"CompanyName"), L"Kestrelmar");
        EXPECT_EQ(text(L"ProductName"), L"ItemPlugin");
        EXPECT_EQ(text(L"ProductVersion"), Widen(ITEMPLUGIN_VERSION_TEXT));
        EXPECT_EQ(text(L"FileVersion"), Widen(ITEMPLUGIN_FILE_VERSION_TEXT));
        EXPECT_EQ(text(L"OriginalFilename"), name);
        EXPECT_EQ(text(L"InternalName"), name.substr(0, name.rfind(L'.')));
        EXPECT_NE(text(L"FileDescription").find(L"ItemPlugin"), std::wstring::npos);
        EXPECT_NE(text(L"LegalCopyright").find(L"Kestrelmar"), std::wstring::npos);
        EXPECT_EQ(text(L"OLESelfRegister"), isDll ? L"" : L"<none>");

        if (isDll) continue;
        const HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(image, nullptr);
        const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
        EXPECT_NE(found, nullptr);
        if (found) {
            const auto* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
            const std::string manifest(bytes, SizeofResource(image, found));
            EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
            EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos) << "Windows 10";
        }
        FreeLibrary(image);
    }
}

DWORD RunRegsvr32(const std::wstring& options) {
    std::wstring command = L"regsvr32.exe " + options + L" \"" + PluginDll::Path() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(L"C:\\windows\\system32\\regsvr32.exe", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return GetLastError();
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0) return WAIT_TIMEOUT;
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return code;
}

TEST_F(Registration, Regsvr32RegistrationServesCoCreateInstanceByClsidAndProgId) {
    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
    EXPECT_EQ(Read(kFormat.Key() + L"\\InprocServer32"), PluginDll::Path());

    CLSID formatClsid{};
    ASSERT_EQ(CLSIDFromProgID(kFormat.ProgId().c_str(), &formatClsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(formatClsid, GuidFromString(kFormat.clsid.c_str())));
    ComPtr<IPlxFileFormat> format;
    ASSERT_EQ(CoCreateInstance(formatClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPlxFileFormat, format.PutVoid()), S_OK);
    UniqueBstr maker, description, extensions;
    ASSERT_EQ(format->GetInfo(maker.Put(), description.Put(), extensions.Put()), S_OK);
    EXPECT_STREQ(extensions.Get(), L"<item>");

    // IDispatch of the preview object answers from the registered type library.
    ComPtr<IDispatch> preview;
    ASSERT_EQ(CoCreateInstance(GuidFromString(kPreview.clsid.c_str()), nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               preview.PutVoid()),
              S_OK);
    ComPtr<ITypeInfo> typeInfo;
    ASSERT_EQ(preview->GetTypeInfo(0, LOCALE_USER_DEFAULT, typeInfo.Put()), S_OK);
    UniqueBstr name;
    ASSERT_EQ(typeInfo->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name.Get(), L"IItemPreview");

    ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);
    for (const auto& c : kClasses) ExpectClassRemoved(c);
    EXPECT_EQ(CoCreateInstance(formatClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, format.PutVoid()),
              REGDB_E_CLASSNOTREG);
}

}  // namespace

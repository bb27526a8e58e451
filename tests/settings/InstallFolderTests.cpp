// Installation and data folders against the real registry (both views), real
// files and the process environment.
#include <gtest/gtest.h>

#include <vector>

#include "settings/AppKey.h"
#include "settings/SettingsLight.h"
#include "tests/support/RegistrySnapshot.h"
#include "common/RequestTrace.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VaultFixture.h"
#include "tools/cachewriter/FileBytes.h"

namespace {

const std::wstring kUserSettingsKey = std::wstring(kAppKeyPath) + L"\\Vaults\\_-Global\\Settings";
const std::wstring kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr REGSAM k32 = KEY_WOW64_32KEY;
constexpr REGSAM k64 = KEY_WOW64_64KEY;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class InstallFolders : public testing::Test {
protected:
    void SetUp() override {
        DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
        ClearMachine();
    }
    static void ClearMachine() {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath, k64);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath, k32);
    }
    static void SetMachine(const wchar_t* name, const std::wstring& text, REGSAM view = k64) {
        SetRegistryString(HKEY_LOCAL_MACHINE, kAppKeyPath, name, text, view);
    }
    static void SetUserLanguage(const std::wstring& language) {
        SetRegistryString(HKEY_CURRENT_USER, kUserSettingsKey, L"0", language);
    }

    RegistrySnapshot snapshot_{RegistrySnapshot::ApplicationKeys()};
    TempFolder temp_{L"folders"};
};

// Every kind read from a registry value, in every form the value can take, with
// its fallback present and missing.
TEST_F(InstallFolders, FolderValuesInEveryFormAndTheirFallbacks) {
    struct Kind {
        PathKind kind;
        const wchar_t* valueName;
        REGSAM view;               // where the value is read
        const wchar_t* baseValue;  // "Location"/"SharedLocation" of the fallback's base (64-bit view); null: none
        const wchar_t* tail;       // the fallback's relative tail
        const wchar_t* suffix;     // what follows the folder
    };
    const Kind kinds[] = {
        {PathKind::Location, L"Location", k64, nullptr, L"", L""},
        {PathKind::SharedLocation, L"SharedLocation", k64, nullptr, L"", L""},
        {PathKind::Location64, L"Location", k64, nullptr, L"", L""},
        {PathKind::Location32, L"Location", k32, nullptr, L"", L""},
        {PathKind::LanFileDir, L"LanFileDir", k64, L"SharedLocation", L"LanFiles\\", L""},
        {PathKind::InsoBinDir, L"InsoBinDir", k64, L"SharedLocation", L"FileFormats\\InsoBin\\", L""},
        {PathKind::DefaultDataDir, L"DefaultDataDir", k64, L"Location", L"Default Data\\", L""},
        {PathKind::DefaultCardDir, L"DefaultCardDir", k64, L"Location", L"Default Cards\\", L""},
        {PathKind::DefConfigDir, L"DefConfigDir", k64, L"Location", L"Default Configurations\\", L""},
        {PathKind::VaultConfigFile, L"DefConfigDir", k64, L"Location", L"Default Configurations\\",
         L"VaultConfigurations.ini"},
        {PathKind::LangDir, L"LangDir", k64, L"Location", L"Lang\\", L"FR\\"},
    };
    enum Form { Plain, WithBackslash, Expand, Empty, Number, Missing, OtherView };
    const wchar_t* formNames[] = {L"plain", L"backslash", L"expand", L"empty", L"dword", L"missing", L"other view"};

    ScopedEnvironmentVariable variable(L"ITEMPLUGIN_FOLDER", L"C:\\Env");
    SetUserLanguage(L"FR");
    const wchar_t expand[] = L"%ITEMPLUGIN_FOLDER%\\Sub";
    const DWORD number = 1;

    for (const Kind& k : kinds) {
        for (int form = Plain; form <= OtherView; ++form) {
            for (bool withBase : {false, true}) {
                if (withBase && !k.baseValue) continue;
                SCOPED_TRACE(testing::Message() << "kind " << static_cast<unsigned>(k.kind) << ", "
                                                << formNames[form] << (withBase ? ", base set" : ""));
                ClearMachine();
                if (withBase) SetMachine(k.baseValue, L"D:\\Base");
                switch (form) {
                    case Plain: SetMachine(k.valueName, L"C:\\Dir", k.view); break;
                    case WithBackslash: SetMachine(k.valueName, L"C:\\Dir\\", k.view); break;
                    case Expand:
                        SetRegistryValue(HKEY_LOCAL_MACHINE, kAppKeyPath, k.valueName, REG_EXPAND_SZ, expand,
                                         sizeof(expand), k.view);
                        break;
                    case Empty: SetMachine(k.valueName, L"", k.view); break;
                    case Number:
                        SetRegistryValue(HKEY_LOCAL_MACHINE, kAppKeyPath, k.valueName, REG_DWORD, &number,
                                         sizeof(number), k.view);
                        break;
                    case OtherView: SetMachine(k.valueName, L"C:\\Dir", k.view == k32 ? k64 : k32); break;
                    default: break;
                }
                std::wstring expected;
                if (form == Plain || form == WithBackslash) {
                    expected = L"C:\\Dir\\";
                } else if (form == Expand) {
                    expected = L"C:\\Env\\Sub\\";
                } else if (k.baseValue) {
                    expected = (withBase ? L"D:\\Base\\" : L"") + std::wstring(k.tail);
                }
                if (!expected.empty()) expected += k.suffix;

                SettingsLight settings;
                EXPECT_EQ(settings.GetPath(k.kind), expected);
            }
        }
    }
}

TEST_F(InstallFolders, ValuesWithoutAKindAnswerAsLocationAndOutOfRangeValuesGiveNothing) {
    SetMachine(L"Location", L"C:\\Prog");
    SettingsLight settings;
    EXPECT_EQ(settings.GetPath(static_cast<PathKind>(2u)), L"C:\\Prog\\");
    EXPECT_EQ(settings.GetPath(static_cast<PathKind>(5u)), L"C:\\Prog\\");
    EXPECT_EQ(settings.GetPath(static_cast<PathKind>(0u)), L"C:\\Prog\\");
    for (std::uint32_t value : {17u, 18u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
        EXPECT_EQ(settings.GetPath(static_cast<PathKind>(value)), L"") << value;
    }
}

TEST_F(InstallFolders, CachedKindsKeepTheirFirstSuccessAndRetryAfterAFailure) {
    struct Cached {
        PathKind kind;
        const wchar_t* valueName;
        REGSAM view;
    };
    const Cached kinds[] = {
        {PathKind::Location, L"Location", k64},
        {PathKind::SharedLocation, L"SharedLocation", k64},
        {PathKind::Location64, L"Location", k64},
        {PathKind::Location32, L"Location", k32},
    };
    for (const Cached& c : kinds) {
        SCOPED_TRACE(testing::Message() << "kind " << static_cast<unsigned>(c.kind));
        ClearMachine();
        SettingsLight settings;
        EXPECT_EQ(settings.GetPath(c.kind), L"") << "no application key at all";
        SetMachine(L"Unrelated", L"x", c.view);
        EXPECT_EQ(settings.GetPath(c.kind), L"") << "key, but no value";
        SetMachine(c.valueName, L"C:\\First", c.view);
        EXPECT_EQ(settings.GetPath(c.kind), L"C:\\First\\");
        SetMachine(c.valueName, L"C:\\Second", c.view);
        EXPECT_EQ(settings.GetPath(c.kind), L"C:\\First\\");
        ClearMachine();
        EXPECT_EQ(settings.GetPath(c.kind), L"C:\\First\\") << "value gone";

        SetMachine(c.valueName, L"C:\\Second", c.view);
        EXPECT_EQ(SettingsLight().GetPath(c.kind), L"C:\\Second\\") << "a new object reads afresh";
    }
}

TEST_F(InstallFolders, LanFileParentDir) {
    struct Case {
        const wchar_t* lanFileDir;  // null: missing
        const wchar_t* shared;      // null: missing
        const wchar_t* expected;
    };
    const std::wstring longParent = L"C:\\" + std::wstring(300, L'x') + L"\\" + std::wstring(300, L'y') + L"\\";
    const std::wstring longFolder = longParent + L"LanFiles";
    const Case cases[] = {
        {L"\\\\srv\\share\\LanFiles", nullptr, L"\\\\srv\\share\\"},
        {L"\\\\srv\\share\\LanFiles\\", nullptr, L"\\\\srv\\share\\"},
        {L"C:\\A\\B\\LanFiles\\", nullptr, L"C:\\A\\B\\"},
        {L"C:\\LanFiles", nullptr, L"C:\\"},
        {L"C:\\", nullptr, L"C:\\"},
        {longFolder.c_str(), nullptr, longParent.c_str()},
        {nullptr, L"D:\\Shared", L"D:\\Shared\\"},
        {nullptr, nullptr, L""},  // "LanFiles\" has no parent; never the drive root "\"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.lanFileDir ? c.lanFileDir : L"(none)"));
        ClearMachine();
        SetMachine(L"Unrelated", L"x");
        if (c.lanFileDir) SetMachine(L"LanFileDir", c.lanFileDir);
        if (c.shared) SetMachine(L"SharedLocation", c.shared);
        EXPECT_EQ(SettingsLight().GetPath(PathKind::LanFileParentDir), c.expected);
    }
}

TEST_F(InstallFolders, HelpFilePrefersTheLanguageFolderThenTheEnglishOne) {
    struct Case {
        const wchar_t* language;
        const wchar_t* location;            // Location in the 64-bit view, relative to the temporary folder
        std::vector<const wchar_t*> files;  // help files created, relative to it
        const wchar_t* expected;            // relative to it
    };
    const Case cases[] = {
        {L"FR", L"Prog", {L"Prog\\Lang\\FR\\FileExplorer.chm", L"Prog\\Lang\\GB\\FileExplorer.chm"},
         L"Prog\\Lang\\FR\\FileExplorer.chm"},
        {L"FR", L"Prog", {L"Prog\\Lang\\GB\\FileExplorer.chm"}, L"Prog\\Lang\\GB\\FileExplorer.chm"},
        {L"FR", L"Prog", {}, L"Prog\\Lang\\FR\\FileExplorer.chm"},
        {L"GB", L"Prog", {}, L"Prog\\Lang\\GB\\FileExplorer.chm"},
        // Every occurrence of \FR\ is replaced, not only the language folder.
        {L"FR", L"FR\\Prog", {L"GB\\Prog\\Lang\\GB\\FileExplorer.chm"}, L"GB\\Prog\\Lang\\GB\\FileExplorer.chm"},
        {L"FR", L"FR\\Prog", {L"FR\\Prog\\Lang\\GB\\FileExplorer.chm"}, L"FR\\Prog\\Lang\\FR\\FileExplorer.chm"},
        // The search is case-sensitive: \fr\ stays.
        {L"FR", L"fr\\Prog", {L"fr\\Prog\\Lang\\GB\\FileExplorer.chm"}, L"fr\\Prog\\Lang\\GB\\FileExplorer.chm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.language << " " << c.location << " " << c.files.size() << " file(s)");
        ClearMachine();
        TempFolder root{L"help"};
        SetUserLanguage(c.language);
        SetMachine(L"Location", root / c.location);
        for (const wchar_t* file : c.files) WriteFileBytes(root / file, "x", 1);
        EXPECT_EQ(SettingsLight().GetPath(PathKind::HelpFile), root / c.expected);
    }
}

TEST_F(InstallFolders, HelpViewerExeNeedsTheVariableAndTheProgram) {
    const std::wstring tail = L"Common Files\\Kestrelmar Shared\\zeRadaVuriri\\zeRadaVuriri.exe";
    {
        ScopedEnvironmentVariable unset(L"ProgramFiles(x86)", nullptr);
        EXPECT_EQ(SettingsLight().GetPath(PathKind::HelpViewerExe), L"");
        WriteFileBytes(temp_ / tail, "MZ", 2);
        EXPECT_EQ(SettingsLight().GetPath(PathKind::HelpViewerExe), L"");
    }
    for (const std::wstring& programFiles : {temp_.Path(), temp_.Path() + L"\\"}) {
        ScopedEnvironmentVariable set(L"ProgramFiles(x86)", programFiles.c_str());
        EXPECT_EQ(SettingsLight().GetPath(PathKind::HelpViewerExe), temp_ / tail);
    }
    DeleteFileW((temp_ / tail).c_str());
    ScopedEnvironmentVariable set(L"ProgramFiles(x86)", temp_.Path().c_str());
    EXPECT_EQ(SettingsLight().GetPath(PathKind::HelpViewerExe), L"");
}

// The per-user data folder, with the shell's application data folders moved into
// a temporary folder.
class DataFolder : public InstallFolders {
protected:
    void MoveShellFolder(const wchar_t* name, const std::wstring& folder) {
        SetRegistryValue(HKEY_CURRENT_USER, kShellFolders, name, REG_EXPAND_SZ, folder.c_str(),
                         static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }
    RegistrySnapshot shellFolders_{{{HKEY_CURRENT_USER, kShellFolders, 0}}};
};

TEST_F(DataFolder, IsCreatedOnceAndThenServedFromTheCache) {
    const std::wstring local = temp_ / L"Local";
    MoveShellFolder(L"Local AppData", local);
    const std::wstring product = local + L"\\KESTRELMAR\\KESTRELMAR PDM\\";

    SettingsLight settings;
    EXPECT_EQ(settings.GetPath(PathKind::AppDataDir), product);
    EXPECT_TRUE(Exists(local + L"\\KESTRELMAR"));
    EXPECT_TRUE(Exists(product));

    RemoveDirectoryW((local + L"\\KESTRELMAR\\KESTRELMAR PDM").c_str());
    RemoveDirectoryW((local + L"\\KESTRELMAR").c_str());
    MoveShellFolder(L"Local AppData", temp_ / L"Elsewhere");
    EXPECT_EQ(settings.GetPath(PathKind::AppDataDir), product);
    EXPECT_FALSE(Exists(local + L"\\KESTRELMAR")) << "the cached answer touches no disk";

    MoveShellFolder(L"Local AppData", local);
    EXPECT_EQ(SettingsLight().GetPath(PathKind::AppDataDir), product);
    EXPECT_TRUE(Exists(product));
}

TEST_F(DataFolder, FallsBackOnTheRoamingFolderThenOnAppDataAndRetriesAfterAFailure) {
    // A folder below a file can be neither found nor created.
    WriteFileBytes(temp_ / L"file", "x", 1);
    MoveShellFolder(L"Local AppData", temp_ / L"file\\Local");
    MoveShellFolder(L"AppData", temp_ / L"Roaming");
    EXPECT_EQ(SettingsLight().GetPath(PathKind::AppDataDir), temp_ / L"Roaming\\KESTRELMAR\\KESTRELMAR PDM\\");
    EXPECT_TRUE(Exists(temp_ / L"Roaming\\KESTRELMAR\\KESTRELMAR PDM"));

    MoveShellFolder(L"AppData", temp_ / L"file\\Roaming");
    ScopedEnvironmentVariable appData(L"APPDATA", nullptr);
    SettingsLight settings;
    EXPECT_EQ(settings.GetPath(PathKind::AppDataDir), L"");
    SetEnvironmentVariableW(L"APPDATA", (temp_ / L"Env").c_str());
    EXPECT_EQ(settings.GetPath(PathKind::AppDataDir), temp_ / L"Env\\KESTRELMAR\\KESTRELMAR PDM\\");
    EXPECT_FALSE(Exists(temp_ / L"Env")) << "only the two product folders are created; failing that changes nothing";
}

// Only the local folder's answer is kept between requests; it is checked on
// each use and made again when it has gone.
TEST_F(DataFolder, OnlyTheLocalAnswerIsKeptAndItIsMadeAgainWhenGone) {
    WriteFileBytes(temp_ / L"file", "x", 1);
    MoveShellFolder(L"Local AppData", temp_ / L"file\\Local");
    MoveShellFolder(L"AppData", temp_ / L"Roaming");
    EXPECT_EQ(SettingsLight().GetPath(PathKind::AppDataDir), temp_ / L"Roaming\\KESTRELMAR\\KESTRELMAR PDM\\");

    // The local folder can be had now, with no setting changed.
    ASSERT_TRUE(DeleteFileW((temp_ / L"file").c_str()));
    ASSERT_TRUE(CreateDirectoryW((temp_ / L"file").c_str(), nullptr));
    const std::wstring product = temp_ / L"file\\Local\\KESTRELMAR\\KESTRELMAR PDM\\";
    EXPECT_EQ(SettingsLight().GetPath(PathKind::AppDataDir), product) << "a fallback's answer was kept";

    ASSERT_TRUE(RemoveDirectoryW(product.c_str()));
    ASSERT_TRUE(RemoveDirectoryW((temp_ / L"file\\Local\\KESTRELMAR").c_str()));
    EXPECT_EQ(SettingsLight().GetPath(PathKind::AppDataDir), product);
    EXPECT_TRUE(Exists(product)) << "the data folder deleted between requests was not made again";
}

// Diagnosis asks where the folder comes from in a read-only request, which
// lets the shell create no missing special folder and creates no folder itself.
TEST_F(DataFolder, ReadOnlyRequestSaysWhereItCameFromAndCreatesNothing) {
    const std::wstring local = temp_ / L"NewLocal";
    const std::wstring roaming = temp_ / L"Roaming";
    CreateDirectoryW(roaming.c_str(), nullptr);
    MoveShellFolder(L"Local AppData", local);
    MoveShellFolder(L"AppData", roaming);

    struct Heard final : RequestObserver {
        DataFolderBase source = DataFolderBase::None;
        CString base, folder;
        void DataFolder(RequestCall, DataFolderBase from, const CString& b, const CString& f, bool, bool) override {
            source = from, base = b, folder = f;
        }
    } heard;
    ReadOnlyPolicy policy;
    const std::wstring product = roaming + L"\\KESTRELMAR\\KESTRELMAR PDM\\";
    {
        RequestContext readOnly{&heard, &policy};
        ScopedRequest request(readOnly);
        EXPECT_EQ(SettingsLight().GetPath(PathKind::AppDataDir), product);
    }
    EXPECT_FALSE(Exists(local)) << "the missing local folder was created";
    EXPECT_FALSE(Exists(roaming + L"\\KESTRELMAR")) << "the product folder was created";
    EXPECT_EQ(heard.source, DataFolderBase::RoamingAppData);
    EXPECT_EQ(heard.base, roaming);
    EXPECT_EQ(heard.folder, product);
    EXPECT_EQ(policy.Changes(), (std::vector<CString>{roaming + L"\\KESTRELMAR", product}));

    {
        RequestContext listening{&heard};
        ScopedRequest request(listening);
        EXPECT_EQ(SettingsLight().GetPath(PathKind::AppDataDir), local + L"\\KESTRELMAR\\KESTRELMAR PDM\\");
    }
    EXPECT_EQ(heard.source, DataFolderBase::LocalAppData) << "the plug-in's lookup lets the shell create it";
    EXPECT_TRUE(Exists(local));
}

}  // namespace

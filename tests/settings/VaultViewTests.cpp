// Vault view discovery against the real registry and real desktop.ini files.
#include <gtest/gtest.h>

#include <cstring>

#include "common/UniqueResource.h"
#include "settings/AppKey.h"
#include "settings/SettingsLight.h"
#include "settings/ViewIdentity.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VaultFixture.h"
#include "tools/cachewriter/FileBytes.h"

namespace {

constexpr wchar_t kVaultA[] = L"{ABCDEF01-2345-6789-ABCD-EF0123456789}";
constexpr wchar_t kVaultB[] = L"{11111111-2222-3333-4444-555555555555}";
constexpr wchar_t kView1[] = L"{0000AAAA-0000-0000-0000-000000000001}";
constexpr wchar_t kView2[] = L"{0000AAAA-0000-0000-0000-000000000002}";

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::vector<std::wstring> Names(const Lst<CString>& list) {
    std::vector<std::wstring> names;
    for (auto* node = list.Head(); node; node = node->next) names.push_back(node->value);
    return names;
}

class VaultViews : public testing::Test {
protected:
    void SetUp() override {
        DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath);
    }
    // A view root folder with its desktop.ini; returns the folder.
    std::wstring MakeView(const std::wstring& folderName, const wchar_t* vaultId, const wchar_t* viewId) {
        const std::wstring folder = temp_ / folderName;
        WriteDesktopIni(folder, vaultId, viewId);
        return folder;
    }

    RegistrySnapshot snapshot_{RegistrySnapshot::ApplicationKeys()};
    TempFolder temp_{L"views"};
};

TEST_F(VaultViews, ReadViewIdentityParsesBothKeysWithOrWithoutTrailingBackslash) {
    const std::wstring root = MakeView(L"v", L"{abcdef01-2345-6789-abcd-ef0123456789}", kView1);
    GUID vault{}, view{};
    ASSERT_TRUE(ReadViewIdentity(root, ViewIdentity::Vault, vault));
    EXPECT_TRUE(SameGuid(vault, GuidFromString(kVaultA)));
    ASSERT_TRUE(ReadViewIdentity(root + L"\\", ViewIdentity::View, view));
    EXPECT_TRUE(SameGuid(view, GuidFromString(kView1)));
}

TEST_F(VaultViews, ReadViewIdentityAcceptsAndRejectsAsTheFormatSays) {
    struct Case {
        const wchar_t* text;
        bool accepted;
    };
    const Case cases[] = {
        {L"ABCDEF01-2345-6789-ABCD-EF0123456789}", false},                // no opening brace
        {L"{ABCDEF01-2345-6789-ABCD-EF0123456789", true},                 // no closing brace
        {L"{ABCDEF01-2345-6789-ABCD-EF0123456789}trailing", true},        // text after it
        {L"{ABCDEF01-2345-6789-ABCD-EF01234567}", false},                 // truncated
        {L"{ABCDEF01-2345-6789-ABCD}", false},                            // truncated earlier
        {L"garbage", false},
        {L"{ZZZZZZZZ-2345-6789-ABCD-EF0123456789}", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        const std::wstring root = MakeView(L"case", c.text, nullptr);
        GUID out = GuidFromString(kVaultB);
        IdentityText detail;
        EXPECT_EQ(ReadViewIdentity(root, ViewIdentity::Vault, out, &detail), c.accepted) << std::wstring(c.text).c_str();
        EXPECT_EQ(detail.text, c.text) << "the text as the file holds it";
        EXPECT_EQ(detail.parsed, c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(SameGuid(out, GuidFromString(kVaultA)));
        } else {
            EXPECT_TRUE(SameGuid(out, GuidFromString(kVaultB))) << "out must not be written on failure";
        }
    }
}

TEST_F(VaultViews, ReadViewIdentityFailsWithoutFileSectionKeyOrValidSelector) {
    GUID out{};
    EXPECT_FALSE(ReadViewIdentity(temp_ / L"nothing-here", ViewIdentity::Vault, out));
    const std::wstring root = MakeView(L"onlyvault", kVaultA, nullptr);
    EXPECT_FALSE(ReadViewIdentity(root, ViewIdentity::View, out));
    EXPECT_FALSE(ReadViewIdentity(root, 3, out));
    EXPECT_FALSE(ReadViewIdentity(root, 0, out));

    const std::string garbage = "\x01\x02 not an ini file [[[ \xff\xfe";
    WriteFileBytes(temp_ / L"garbage\\desktop.ini", garbage.data(), garbage.size());
    EXPECT_FALSE(ReadViewIdentity(temp_ / L"garbage", ViewIdentity::Vault, out));
}

// The host's desktop.ini is a hidden system file in a system folder, written
// long before it is read: the view must be read, listed and found all the same.
TEST_F(VaultViews, AViewAsTheHostLeavesItIsReadListedAndFound) {
    const std::wstring root = temp_ / L"host";
    WriteDesktopIni(root, kVaultA, kView1, IniAge::DayOld);
    WIN32_FILE_ATTRIBUTE_DATA ini{};
    ASSERT_TRUE(GetFileAttributesExW(ViewIniPath(root).c_str(), GetFileExInfoStandard, &ini));
    EXPECT_EQ(ini.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(GetFileAttributesW(root.c_str()) & FILE_ATTRIBUTE_SYSTEM);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    EXPECT_GT(ticks(now) - ticks(ini.ftLastWriteTime), 23ULL * 3600 * 10'000'000) << "written a day ago";

    GUID vault{}, view{};
    ASSERT_TRUE(ReadViewIdentity(root, ViewIdentity::Vault, vault));
    ASSERT_TRUE(ReadViewIdentity(root, ViewIdentity::View, view));
    EXPECT_TRUE(SameGuid(vault, GuidFromString(kVaultA)) && SameGuid(view, GuidFromString(kView1)));

    RegisterVaultView(RegistrationPlace::Machine, L"Design", root.c_str());
    SettingsLight settings;
    Lst<CString> names;
    EXPECT_TRUE(settings.ListVaultViews(names));
    EXPECT_EQ(Names(names), (std::vector<std::wstring>{L"Design"}));
    CString found;
    EXPECT_TRUE(settings.FindVaultName(GuidFromString(kVaultA), found));
    EXPECT_EQ(found, L"Design");

    // Written again over the hidden file: the new identity is read.
    WriteDesktopIni(root, kVaultB, kView1);
    ASSERT_TRUE(ReadViewIdentity(root, ViewIdentity::Vault, vault));
    EXPECT_TRUE(SameGuid(vault, GuidFromString(kVaultB)));
}

TEST_F(VaultViews, UserRegistrationWithShellRootWinsOverTheMachines) {
    const std::wstring machineRoot = MakeView(L"m", kVaultA, kView1);
    const std::wstring userRoot = MakeView(L"u", kVaultA, kView2);
    RegisterVaultView(RegistrationPlace::Machine, L"Design", machineRoot.c_str());
    RegisterVaultView(RegistrationPlace::User, L"Design", userRoot.c_str());

    SettingsLight settings;
    EXPECT_EQ(settings.GetViewRoot(L"Design"), userRoot + L"\\");
    EXPECT_EQ(settings.ReadViewRoot(L"Design").place, ViewPlace::User);
    const auto registrations = settings.Registrations();
    ASSERT_EQ(registrations.size(), 2u);
    EXPECT_EQ(registrations[0].place, ViewPlace::Machine);
    EXPECT_EQ(registrations[1].place, ViewPlace::User);
    EXPECT_TRUE(registrations[0].hasShellRoot && registrations[1].hasShellRoot);

    Lst<CString> names;
    EXPECT_TRUE(settings.ListVaultViews(names));
    EXPECT_EQ(Names(names), (std::vector<std::wstring>{L"Design", L"Design"}));

    CString found;
    EXPECT_TRUE(settings.FindVaultName(GuidFromString(kVaultA), found));
    EXPECT_EQ(found, L"Design");
}

TEST_F(VaultViews, UserRegistrationWithoutShellRootDoesNotHideTheMachines) {
    const std::wstring machineRoot = MakeView(L"m", kVaultA, kView1);
    RegisterVaultView(RegistrationPlace::Machine, L"Design", (machineRoot + L"\\").c_str());
    RegisterVaultView(RegistrationPlace::User, L"Design", nullptr);
    SettingsLight settings;
    EXPECT_EQ(settings.GetViewRoot(L"Design"), machineRoot + L"\\");
    const ViewRootRead read = settings.ReadViewRoot(L"Design");
    EXPECT_EQ(read.place, ViewPlace::Machine);
    EXPECT_EQ(read.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(read.stored, machineRoot + L"\\");
    Registry vaultKey;
    EXPECT_TRUE(settings.OpenVaultKey(L"Design", vaultKey));
    const auto registrations = settings.Registrations();
    ASSERT_EQ(registrations.size(), 2u);
    EXPECT_TRUE(registrations[1].opened);
    EXPECT_FALSE(registrations[1].hasShellRoot) << "the user's registration without ShellRoot is no view";
    EXPECT_EQ(settings.RegisteredViewNames(), std::vector<CString>{L"Design"});
}

// A read-only request (diagnosis) reads without creating the user's
// application key, says it would, and answers what the plug-in answers once it
// has created it.
TEST_F(VaultViews, ReadOnlyRequestCreatesNoUserKeyAndFindsTheMachinesViews) {
    RegisterVaultView(RegistrationPlace::Machine, L"Design", MakeView(L"m", kVaultA, kView1).c_str());
    UniqueHKey probe;
    ASSERT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, probe.Put()), ERROR_SUCCESS);
    const std::wstring userKey = std::wstring(L"HKCU\\") + kAppKeyPath;
    {
        ReadOnlyPolicy policy;
        RequestContext readOnly{nullptr, &policy};
        ScopedRequest request(readOnly);
        SettingsLight settings;
        Lst<CString> names;
        settings.ListVaultViews(names);
        EXPECT_EQ(Names(names), std::vector<std::wstring>{L"Design"});
        EXPECT_EQ(settings.ReadViewRoot(L"Design").place, ViewPlace::Machine);
        ASSERT_FALSE(policy.Changes().empty());
        EXPECT_EQ(policy.Changes().front(), userKey);
    }
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, probe.Put()), ERROR_SUCCESS)
        << "read-only settings created the user key";

    SettingsLight settings;
    Lst<CString> names;
    settings.ListVaultViews(names);
    EXPECT_EQ(Names(names), std::vector<std::wstring>{L"Design"});
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, probe.Put()), ERROR_SUCCESS)
        << "the plug-in's settings create it";
    ReadOnlyPolicy again;
    RequestContext readOnly{nullptr, &again};
    ScopedRequest request(readOnly);
    Lst<CString> more;
    SettingsLight().ListVaultViews(more);
    EXPECT_TRUE(again.Changes().empty());
}

TEST_F(VaultViews, ViewRootEdgeCases) {
    SettingsLight settings;
    EXPECT_EQ(settings.GetViewRoot(nullptr), L"");
    EXPECT_EQ(settings.GetViewRoot(L""), L"");
    EXPECT_EQ(settings.GetViewRoot(L"Unregistered"), L"");

    const DWORD number = 7;
    RegisterVaultView(RegistrationPlace::Machine, L"NumberRoot", nullptr);
    SetRegistrationValue(RegistrationPlace::Machine, L"NumberRoot", L"ShellRoot", REG_DWORD, &number, 4);
    RegisterVaultView(RegistrationPlace::Machine, L"EmptyRoot", L"");
    SetEnvironmentVariableW(L"ITEMPLUGIN_VIEWS", temp_.Path().c_str());
    const wchar_t expand[] = L"%ITEMPLUGIN_VIEWS%\\x";
    RegisterVaultView(RegistrationPlace::Machine, L"ExpandRoot", nullptr);
    SetRegistrationValue(RegistrationPlace::Machine, L"ExpandRoot", L"ShellRoot", REG_EXPAND_SZ, expand, sizeof(expand));

    Registry vaultKey;
    EXPECT_TRUE(settings.OpenVaultKey(L"NumberRoot", vaultKey)) << "a non-string ShellRoot passes the existence test";
    EXPECT_EQ(settings.GetViewRoot(L"NumberRoot"), L"");
    EXPECT_EQ(settings.GetViewRoot(L"EmptyRoot"), L"");
    EXPECT_EQ(settings.GetViewRoot(L"ExpandRoot"), temp_.Path() + L"\\x\\");
    const ViewRootRead expandRead = settings.ReadViewRoot(L"ExpandRoot");
    EXPECT_EQ(expandRead.type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(expandRead.stored, L"%ITEMPLUGIN_VIEWS%\\x") << "as stored, before expansion";
    const ViewRootRead numberRead = settings.ReadViewRoot(L"NumberRoot");
    EXPECT_TRUE(numberRead.registered);
    EXPECT_EQ(numberRead.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(numberRead.root, L"");
}

TEST_F(VaultViews, ListingSkipsViewsWithoutBothIdentities) {
    RegisterVaultView(RegistrationPlace::Machine, L"NoViewId", MakeView(L"a", kVaultA, nullptr).c_str());
    RegisterVaultView(RegistrationPlace::Machine, L"NoVaultId", MakeView(L"b", nullptr, kView1).c_str());
    RegisterVaultView(RegistrationPlace::Machine, L"NoIni", (temp_ / L"missing").c_str());
    RegisterVaultView(RegistrationPlace::Machine, L"NoShellRoot", nullptr);
    RegisterVaultView(RegistrationPlace::User, L"Good", MakeView(L"c", kVaultB, kView2).c_str());

    SettingsLight settings;
    Lst<CString> names;
    settings.ListVaultViews(names);
    EXPECT_EQ(Names(names), std::vector<std::wstring>{L"Good"});

    CString name = L"unchanged";
    EXPECT_FALSE(settings.FindVaultName(GuidFromString(kVaultA), name)) << "a view without ViewID is never found";
    EXPECT_EQ(name, L"unchanged");
    EXPECT_TRUE(settings.FindVaultName(GuidFromString(kVaultB), name));
    EXPECT_EQ(name, L"Good");
}

TEST_F(VaultViews, FindVaultNameTakesTheFirstListedViewOfTheVault) {
    RegisterVaultView(RegistrationPlace::User, L"UserView", MakeView(L"u", kVaultA, kView2).c_str());
    RegisterVaultView(RegistrationPlace::Machine, L"MachineView", MakeView(L"m", kVaultA, kView1).c_str());
    SettingsLight settings;
    CString name;
    ASSERT_TRUE(settings.FindVaultName(GuidFromString(kVaultA), name));
    EXPECT_EQ(name, L"MachineView") << "machine registrations are listed first";
}

TEST_F(VaultViews, LongNamesAndManyViews) {
    const std::wstring longName(255, L'n');
    const std::wstring sharedRoot = MakeView(L"shared", kVaultB, kView2);
    for (int i = 0; i < 1000; ++i) {
        RegisterVaultView(RegistrationPlace::Machine, L"View" + std::to_wstring(i), sharedRoot.c_str());
    }
    RegisterVaultView(RegistrationPlace::User, longName, MakeView(L"long", kVaultA, kView1).c_str());

    SettingsLight settings;
    Lst<CString> names;
    settings.ListVaultViews(names);
    EXPECT_EQ(names.Count(), 1001);
    CString name;
    ASSERT_TRUE(settings.FindVaultName(GuidFromString(kVaultA), name));
    EXPECT_EQ(name, longName);
}

}  // namespace

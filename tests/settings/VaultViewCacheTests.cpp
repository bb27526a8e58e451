// The vault view cache against changes made by other processes and threads:
// every answer must equal a fresh read of the registry and the desktop.ini files.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "settings/AppKey.h"
#include "settings/SettingsLight.h"
#include "settings/VaultViewCache.h"
#include "settings/ViewIdentity.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/VaultFixture.h"

namespace {

constexpr wchar_t kVaultA[] = L"{ABCDEF01-2345-6789-ABCD-EF0123456789}";
constexpr wchar_t kVaultB[] = L"{11111111-2222-3333-4444-555555555555}";
constexpr wchar_t kView1[] = L"{0000AAAA-0000-0000-0000-000000000001}";

RegistrationPlace PlaceOf(const std::wstring& text) {
    return text == L"machine" ? RegistrationPlace::Machine : RegistrationPlace::User;
}

// The changes, each made by a process of its own.
ITEMPLUGIN_CHILD_MODE(Register, L"register-view") {  // place, name, root
    RegisterVaultView(PlaceOf(args.at(0)), args.at(1), args.at(2).c_str());
    return 0;
}
ITEMPLUGIN_CHILD_MODE(Unregister, L"unregister-view") {  // place, name
    const std::wstring path = std::wstring(kAppKeyPath) + (PlaceOf(args.at(0)) == RegistrationPlace::Machine
                                                               ? L"\\Databases\\"
                                                               : L"\\Vaults\\") + args.at(1);
    return DeleteRegistryTree(PlaceOf(args.at(0)) == RegistrationPlace::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                              path)
               ? 0
               : 1;
}
ITEMPLUGIN_CHILD_MODE(WriteIni, L"write-desktop-ini") {  // folder, vault id
    WriteDesktopIni(args.at(0), args.at(1).c_str(), kView1);
    return 0;
}
ITEMPLUGIN_CHILD_MODE(RemoveFolder, L"remove-folder") {  // folder
    std::error_code error;
    std::filesystem::remove_all(args.at(0), error);
    return error ? 1 : 0;
}

void InOtherProcess(const std::wstring& mode, const std::vector<std::wstring>& args) {
    ChildProcess child(mode, args);
    ASSERT_TRUE(child.Wait(30000)) << "the change did not finish";
    ASSERT_EQ(child.ExitCode(), 0u);
}

// What a fresh read answers: the listed views (read anew each time), the first
// whose root names the vault.
std::wstring FreshVaultName(const wchar_t* vaultId) {
    SettingsLight settings;
    Lst<CString> names;
    settings.ListVaultViews(names);
    for (auto* node = names.Head(); node; node = node->next) {
        GUID identity{};
        if (ReadViewIdentity(settings.GetViewRoot(node->value.c_str()), ViewIdentity::Vault, identity) &&
            IsEqualGUID(identity, GuidFromString(vaultId))) {
            return node->value;
        }
    }
    return L"<none>";
}

std::wstring CachedVaultName(const wchar_t* vaultId) {
    SettingsLight settings;
    CString name;
    return settings.FindVaultName(GuidFromString(vaultId), name) ? name : L"<none>";
}

class VaultViewCacheTest : public testing::Test {
protected:
    void SetUp() override {
        DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath);
    }
    // Both answers for both vaults, after each change.
    void ExpectAnswers(const wchar_t* forA, const wchar_t* forB, const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(CachedVaultName(kVaultA), forA);
        EXPECT_EQ(CachedVaultName(kVaultB), forB);
        EXPECT_EQ(FreshVaultName(kVaultA), forA);
        EXPECT_EQ(FreshVaultName(kVaultB), forB);
    }

    RegistrySnapshot snapshot_{RegistrySnapshot::ApplicationKeys()};
    TempFolder temp_{L"viewcache"};
};

TEST_F(VaultViewCacheTest, AnswersFollowChangesMadeByOtherProcesses) {
    const std::wstring rootA = temp_ / L"a";
    const std::wstring rootB = temp_ / L"b";
    WriteDesktopIni(rootA, kVaultA, kView1);
    WriteDesktopIni(rootB, kVaultB, kView1);
    RegisterVaultView(RegistrationPlace::Machine, L"Alpha", rootA.c_str());
    ExpectAnswers(L"Alpha", L"<none>", "one machine view");

    InOtherProcess(L"register-view", {L"user", L"Beta", rootB});
    ExpectAnswers(L"Alpha", L"Beta", "a user view added");

    InOtherProcess(L"register-view", {L"machine", L"Alpha", rootB});
    ExpectAnswers(L"<none>", L"Alpha", "Alpha's ShellRoot now names B's root");

    // Same length, other vault: only the file's content tells.
    InOtherProcess(L"write-desktop-ini", {rootB, kVaultA});
    ExpectAnswers(L"Alpha", L"<none>", "B's root rewritten to vault A");

    InOtherProcess(L"remove-folder", {rootB});
    ExpectAnswers(L"<none>", L"<none>", "the view root removed");

    InOtherProcess(L"write-desktop-ini", {rootB, kVaultB});
    ExpectAnswers(L"<none>", L"Alpha", "the view root made again");

    InOtherProcess(L"unregister-view", {L"machine", L"Alpha"});
    ExpectAnswers(L"<none>", L"Beta", "the machine view removed");

    InOtherProcess(L"unregister-view", {L"user", L"Beta"});
    ExpectAnswers(L"<none>", L"<none>", "the user view removed");
}

TEST_F(VaultViewCacheTest, UnchangedConfigurationIsServedWithoutReadingAnything) {
    for (int i = 0; i < 100; ++i) {
        const std::wstring root = temp_ / (L"v" + std::to_wstring(i));
        WriteDesktopIni(root, i == 99 ? kVaultA : kVaultB, kView1);
        RegisterVaultView(RegistrationPlace::Machine, L"View" + std::to_wstring(i), root.c_str());
    }
    ASSERT_EQ(CachedVaultName(kVaultA), L"View99");
    const auto before = ProcessVaultViews().ReadCounts();
    for (int i = 0; i < 10; ++i) ASSERT_EQ(CachedVaultName(kVaultA), L"View99");
    const auto after = ProcessVaultViews().ReadCounts();
    EXPECT_EQ(after.registrations, before.registrations);
    EXPECT_EQ(after.folders, before.folders);

    WriteDesktopIni(temp_ / L"v5", kVaultA, kView1);
    EXPECT_EQ(CachedVaultName(kVaultA), L"View5");
    EXPECT_EQ(ProcessVaultViews().ReadCounts().registrations, after.registrations);
    EXPECT_LE(ProcessVaultViews().ReadCounts().folders, after.folders + 2) << "only the changed root is read again";
}

TEST_F(VaultViewCacheTest, ItemFolderIdentityFollowsItsDesktopIni) {
    const std::wstring root = temp_ / L"item";
    GUID vault{};
    EXPECT_FALSE(ProcessVaultViews().ReadIdentity(root + L"\\", ViewIdentity::Vault, vault)) << "no folder yet";
    InOtherProcess(L"write-desktop-ini", {root, kVaultA});
    ASSERT_TRUE(ProcessVaultViews().ReadIdentity(root + L"\\", ViewIdentity::Vault, vault));
    EXPECT_TRUE(IsEqualGUID(vault, GuidFromString(kVaultA)));
    InOtherProcess(L"write-desktop-ini", {root, kVaultB});
    ASSERT_TRUE(ProcessVaultViews().ReadIdentity(root + L"\\", ViewIdentity::Vault, vault));
    EXPECT_TRUE(IsEqualGUID(vault, GuidFromString(kVaultB)));
    InOtherProcess(L"remove-folder", {root});
    EXPECT_FALSE(ProcessVaultViews().ReadIdentity(root + L"\\", ViewIdentity::Vault, vault));
}

TEST_F(VaultViewCacheTest, ConcurrentRequestsWhileTheConfigurationChanges) {
    const std::wstring rootA = temp_ / L"a";
    WriteDesktopIni(rootA, kVaultA, kView1);
    RegisterVaultView(RegistrationPlace::Machine, L"Alpha", rootA.c_str());

    std::atomic<bool> stop{false};
    std::atomic<int> answers{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                const std::wstring name = CachedVaultName(kVaultA);
                if (name == L"Alpha" || name == L"<none>") ++answers;
            }
        });
    }
    for (int round = 0; round < 20; ++round) {
        RegisterVaultView(RegistrationPlace::User, L"View" + std::to_wstring(round), rootA.c_str());
        WriteDesktopIni(rootA, round % 2 ? kVaultB : kVaultA, kView1);
        DeleteRegistryTree(HKEY_CURRENT_USER, std::wstring(kAppKeyPath) + L"\\Vaults\\View" + std::to_wstring(round));
    }
    WriteDesktopIni(rootA, kVaultA, kView1);
    stop = true;
    for (auto& reader : readers) reader.join();
    EXPECT_GT(answers.load(), 0);
    EXPECT_EQ(CachedVaultName(kVaultA), L"Alpha");
}

}  // namespace

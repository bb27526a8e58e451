// The vault view cache against changes made by other processes and threads:
// every answer must equal a fresh read of the registry and the desktop.ini files.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <filesystem>

#include "cache/ItemCacheFile.h"
#include "cache/ItemCacheLock.h"

#include "settings/AppKey.h"
#include "settings/SettingsLight.h"
#include "settings/VaultViewCache.h"
#include "settings/ViewIdentity.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestThread.h"
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

// Sets a file's write and creation times to seconds ago: what a desktop.ini
// written long before looks like.
void DateFile(const std::wstring& path, long long secondsAgo) {
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER then{{now.dwLowDateTime, now.dwHighDateTime}};
    then.QuadPart -= static_cast<ULONGLONG>(secondsAgo) * 10'000'000;
    const FILETIME time{then.LowPart, then.HighPart};
    ASSERT_TRUE(SetFileTime(file.Get(), &time, nullptr, &time));
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// Every handle of this process that names a file or folder, by its final path.
// GetProcessHandleCount is no help under Wine, so the handle values are tried
// one by one; they are small multiples of four there as on Windows.
std::vector<std::wstring> OpenFilePaths() {
    std::vector<std::wstring> paths;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        wchar_t path[1024];
        const DWORD length = GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(value), path, 1024,
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0 || length >= 1024) continue;
        std::wstring text(path, length);
        if (text.rfind(L"\\\\?\\", 0) == 0) text.erase(0, 4);
        paths.push_back(Lower(text));
    }
    return paths;
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

    // temp_\a with a desktop.ini naming vault A, written secondsAgo and
    // registered as the machine's view "Alpha"; answers the root.
    std::wstring DatedAlpha(long long secondsAgo) {
        const std::wstring root = temp_ / L"a";
        WriteDesktopIni(root, kVaultA, kView1);
        DateFile(root + L"\\desktop.ini", secondsAgo);
        RegisterVaultView(RegistrationPlace::Machine, L"Alpha", root.c_str());
        return root;
    }

    // Alpha's desktop.ini written two hours ago and seen, then rewritten for
    // vault B; before holds the file's attributes as they were. Its path.
    std::wstring RewrittenAlpha(WIN32_FILE_ATTRIBUTE_DATA& before) {
        const std::wstring root = DatedAlpha(7200);
        const std::wstring ini = root + L"\\desktop.ini";
        ExpectAnswers(L"Alpha", L"<none>", "written two hours ago");
        EXPECT_TRUE(GetFileAttributesExW(ini.c_str(), GetFileExInfoStandard, &before));
        WriteDesktopIni(root, kVaultB, kView1);
        return ini;
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
        DateFile(root + L"\\desktop.ini", 3600);
        RegisterVaultView(RegistrationPlace::Machine, L"View" + std::to_wstring(i), root.c_str());
    }
    ASSERT_EQ(CachedVaultName(kVaultA), L"View99");
    const auto before = ProcessVaultViews().ReadCounts();
    // Hosts call on threads that come and go: the registry watch must outlive
    // the thread that armed it (on Windows, REG_NOTIFY_THREAD_AGNOSTIC).
    for (int i = 0; i < 10; ++i) {
        TestThread([] { EXPECT_EQ(CachedVaultName(kVaultA), L"View99"); }).join();
    }
    const auto after = ProcessVaultViews().ReadCounts();
    EXPECT_EQ(after.registrations, before.registrations);
    EXPECT_EQ(after.folders, before.folders);

    WriteDesktopIni(temp_ / L"v5", kVaultA, kView1);
    EXPECT_EQ(CachedVaultName(kVaultA), L"View5");
    EXPECT_EQ(ProcessVaultViews().ReadCounts().registrations, after.registrations);
    EXPECT_LE(ProcessVaultViews().ReadCounts().folders, after.folders + 2) << "only the changed root is read again";
}

// Deleting the watched application key is no change a notification reports,
// and while the key is missing there is nothing to watch.
TEST_F(VaultViewCacheTest, ApplicationKeyAndItsParentDeletedThenWrittenAgain) {
    const std::wstring rootA = temp_ / L"a";
    WriteDesktopIni(rootA, kVaultA, kView1);
    RegisterVaultView(RegistrationPlace::Machine, L"Alpha", rootA.c_str());
    ExpectAnswers(L"Alpha", L"<none>", "registered");

    ASSERT_TRUE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath));
    ExpectAnswers(L"<none>", L"<none>", "the machine's application key deleted");
    const std::wstring app = kAppKeyPath;
    const std::wstring parent = app.substr(0, app.rfind(L'\\'));
    ASSERT_TRUE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, parent));
    ExpectAnswers(L"<none>", L"<none>", "the key above it deleted");

    RegisterVaultView(RegistrationPlace::Machine, L"Alpha", rootA.c_str());
    ExpectAnswers(L"Alpha", L"<none>", "written again");
}

TEST_F(VaultViewCacheTest, DesktopIniRewrittenInPlaceWithTheSameSize) {
    WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
    const std::wstring ini = RewrittenAlpha(before);
    DateFile(ini, 3600);  // an hour later than before, and long settled
    ASSERT_TRUE(GetFileAttributesExW(ini.c_str(), GetFileExInfoStandard, &after));
    ASSERT_EQ(after.nFileSizeLow, before.nFileSizeLow) << "the test needs a rewrite of the same size";
    ExpectAnswers(L"<none>", L"Alpha", "rewritten in place an hour later");
}

// Copy and restore tools rewrite a file and give it its times back: size,
// creation, access and write times all as before. Only the change time, which
// moves with every write and every change of the other times, tells.
TEST_F(VaultViewCacheTest, DesktopIniRewrittenWithTheSameSizeAndEveryTimeSetBack) {
    WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
    const std::wstring ini = RewrittenAlpha(before);
    {
        UniqueFileHandle file(CreateFileW(ini.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        ASSERT_TRUE(SetFileTime(file.Get(), &before.ftCreationTime, &before.ftLastAccessTime, &before.ftLastWriteTime));
    }
    ASSERT_TRUE(GetFileAttributesExW(ini.c_str(), GetFileExInfoStandard, &after));
    ASSERT_EQ(after.nFileSizeLow, before.nFileSizeLow);
    ASSERT_EQ(CompareFileTime(&after.ftLastWriteTime, &before.ftLastWriteTime), 0);
    ASSERT_EQ(CompareFileTime(&after.ftCreationTime, &before.ftCreationTime), 0);

    // Wine's profile functions (not Windows') trust the last ten files they
    // read while their write time stays: a dozen others make them read this one.
    for (int i = 0; i < 12; ++i) {
        const std::wstring other = temp_ / (L"other" + std::to_wstring(i));
        WriteDesktopIni(other, kVaultB, kView1);
        GUID ignored{};
        ReadViewIdentity(other + L"\\", ViewIdentity::Vault, ignored);
    }
    ExpectAnswers(L"<none>", L"Alpha", "rewritten with its times set back");
}

// Backup, antivirus and sync clients hold files open for a moment. The profile
// functions answer a file they cannot open as one without the key: that answer
// is no read of the file and must not outlive the moment.
TEST_F(VaultViewCacheTest, DesktopIniHeldWithoutSharingIsReadAgainOnceReleased) {
    const std::wstring root = DatedAlpha(3600);
    const std::wstring ini = root + L"\\desktop.ini";
    GUID vault{};
    {
        UniqueFileHandle held(CreateFileW(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(CachedVaultName(kVaultA), L"<none>") << "the file cannot be read while it is held";
        EXPECT_FALSE(ProcessVaultViews().ReadIdentity(root + L"\\", ViewIdentity::Vault, vault));
    }
    EXPECT_EQ(CachedVaultName(kVaultA), L"Alpha");
    ASSERT_TRUE(ProcessVaultViews().ReadIdentity(root + L"\\", ViewIdentity::Vault, vault));
    EXPECT_TRUE(IsEqualGUID(vault, GuidFromString(kVaultA)));
    const auto settled = ProcessVaultViews().ReadCounts();
    EXPECT_EQ(CachedVaultName(kVaultA), L"Alpha");
    EXPECT_EQ(ProcessVaultViews().ReadCounts().folders, settled.folders) << "the completed read is kept";
}

// A service impersonating its callers reads each caller's registry and files:
// a thread that holds another user's token neither uses nor fills the caches.
TEST_F(VaultViewCacheTest, AThreadActingForAnotherUserReadsAfreshAndKeepsNothing) {
    const std::wstring root = DatedAlpha(3600);
    ASSERT_EQ(CachedVaultName(kVaultA), L"Alpha");
    RegisterVaultView(RegistrationPlace::Machine, L"Beta", root.c_str());  // the kept registrations are stale now

    const auto before = ProcessVaultViews().ReadCounts();
    TestThread([&] {
        ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(CachedVaultName(kVaultA), L"Alpha");
        GUID vault{};
        EXPECT_TRUE(ProcessVaultViews().ReadIdentity(root + L"\\", ViewIdentity::Vault, vault));
        EXPECT_FALSE(SettingsLight().GetPath(PathKind::AppDataDir).empty());
        RevertToSelf();
    }).join();
    const auto acting = ProcessVaultViews().ReadCounts();
    EXPECT_EQ(acting.registrations, before.registrations + 3) << "read afresh on every request";
    EXPECT_EQ(acting.folders, before.folders + 4);

    EXPECT_EQ(CachedVaultName(kVaultA), L"Alpha");
    const auto after = ProcessVaultViews().ReadCounts();
    EXPECT_EQ(after.registrations, acting.registrations + 1) << "nothing the acting thread read was kept";
    EXPECT_EQ(after.folders, acting.folders) << "the root's identities were kept before, by this user";
}

TEST_F(VaultViewCacheTest, ExpandableShellRootFollowsTheEnvironment) {
    const std::wstring rootA = temp_ / L"a";
    const std::wstring rootB = temp_ / L"b";
    WriteDesktopIni(rootA, kVaultA, kView1);
    WriteDesktopIni(rootB, kVaultB, kView1);
    ScopedEnvironmentVariable variable(L"ITEMPLUGIN_VIEW_ROOT", rootA.c_str());
    const std::wstring root = L"%ITEMPLUGIN_VIEW_ROOT%";
    SetRegistrationValue(RegistrationPlace::Machine, L"Moving", L"ShellRoot", REG_EXPAND_SZ, root.c_str(),
                         static_cast<DWORD>((root.size() + 1) * sizeof(wchar_t)));
    ExpectAnswers(L"Moving", L"<none>", "the variable names A's root");
    SetEnvironmentVariableW(L"ITEMPLUGIN_VIEW_ROOT", rootB.c_str());
    ExpectAnswers(L"<none>", L"Moving", "the variable names B's root");
}

// On Windows a handle below a folder keeps every folder above it from being
// renamed or moved, and a deleted folder delete-pending while it is open.
// Wine shows neither, so the handles themselves are counted.
TEST_F(VaultViewCacheTest, NothingOfTheUsersIsHeldOpenBetweenRequests) {
    std::vector<std::wstring> roots;
    for (int i = 0; i < 12; ++i) {
        roots.push_back(temp_ / (L"view" + std::to_wstring(i)));
        wchar_t vault[40];
        swprintf(vault, 40, L"{C0C0%04X-2222-4333-8444-555555555555}", i);
        WriteDesktopIni(roots.back(), vault, kView1);
        RegisterVaultView(i % 2 ? RegistrationPlace::User : RegistrationPlace::Machine, L"Census" + std::to_wstring(i),
                          roots.back().c_str());
    }
    CString dataFolder = SettingsLight().GetPath(PathKind::AppDataDir);
    ASSERT_FALSE(dataFolder.empty());
    for (int i = 0; i < 12; ++i) {
        wchar_t vault[40];
        swprintf(vault, 40, L"{C0C0%04X-2222-4333-8444-555555555555}", i);
        EXPECT_EQ(CachedVaultName(vault), L"Census" + std::to_wstring(i));
        GUID identity{};
        EXPECT_TRUE(ProcessVaultViews().ReadIdentity(roots[i] + L"\\", ViewIdentity::Vault, identity));
        if (i < 3) {  // the whole road of a request: data folder, cache folders, the cache file
            RefPtr<CItemCacheFile> file(new CItemCacheFile(GuidFromString(vault)));
            ItemCacheLock lock(file, 3);
            EXPECT_NE(lock.Chain(), nullptr);
        }
    }

    std::vector<std::wstring> watched{Lower(dataFolder)};
    for (const std::wstring& root : roots) watched.push_back(Lower(root + L"\\"));
    for (const std::wstring& open : OpenFilePaths()) {
        const std::wstring folder = open + L"\\";
        const bool held = std::any_of(watched.begin(), watched.end(), [&](const std::wstring& place) {
            return place.rfind(folder, 0) == 0 || folder.rfind(place, 0) == 0;  // at or above it, or inside
        });
        EXPECT_FALSE(held) << "open between requests: " << std::string(open.begin(), open.end());
    }
    for (int i = 0; i < 3; ++i) {
        std::error_code ignored;
        std::filesystem::remove_all(dataFolder + L"Items\\Census" + std::to_wstring(i), ignored);
    }
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
    std::vector<TestThread> readers;
    // Destroyed before the readers: a failure that leaves the test early stops
    // them, rather than joining threads that never end.
    struct StopOnExit {
        std::atomic<bool>& stop;
        ~StopOnExit() { stop = true; }
    } stopOnExit{stop};
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

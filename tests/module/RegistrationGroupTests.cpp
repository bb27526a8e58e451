// The rules by which a group of registration rows is written and removed,
// applied to a scratch key of the current user, and the shape of the DLL's own
// groups that those rules rely on.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/UniqueResource.h"
#include "module/RegistrationGroup.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/VaultFixture.h"

namespace {

using registration::kForceRemove;
using registration::kModulePath;
using registration::kNoMarks;
using registration::kNoRemove;
using registration::Row;

const std::wstring kScratch = L"Software\\ItemPluginRegistrarTest";
const std::wstring kQuotedModule = L"C:\\it's\\100%X%.dll";

class RegistrationGroup : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratch.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, root_.Put(), nullptr),
                  ERROR_SUCCESS);
    }
    template <size_t N>
    HRESULT Apply(const Row (&rows)[N], bool registerMode) {
        return ApplyRegistrationGroup(root_.Get(), rows, registerMode, kQuotedModule);
    }
    static std::wstring Path(const std::wstring& sub) { return sub.empty() ? kScratch : kScratch + L"\\" + sub; }
    static bool Exists(const std::wstring& sub) {
        UniqueHKey key;
        return RegOpenKeyExW(HKEY_CURRENT_USER, Path(sub).c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
    }
    static std::wstring Read(const std::wstring& sub, const wchar_t* name) {
        std::wstring text;
        return GetRegistryString(HKEY_CURRENT_USER, Path(sub), name, text) ? text : L"<missing>";
    }
    static void Write(const std::wstring& sub, const wchar_t* name) {
        SetRegistryString(HKEY_CURRENT_USER, Path(sub), name, L"old");
    }

    RegistrySnapshot snapshot_{{{HKEY_CURRENT_USER, kScratch, 0}}};
    UniqueHKey root_;
};

TEST_F(RegistrationGroup, RegisterWritesValuesAndForceRemoveClearsAllButProtectedNames) {
    Write(L"Class\\Stale", L"Old");
    Write(L"Class", L"Old");
    Write(L"Plain", L"Other");
    Write(L"CLSID\\Foreign", L"Other");

    const Row rows[] = {
        {L"Class", nullptr, L"Desc", kForceRemove},
        {L"Class\\Server", nullptr, kModulePath, kNoMarks},
        {L"Class\\Server", L"Model", L"Both", kNoMarks},
        {L"Plain", nullptr, L"P", kNoMarks},
        {L"Plain", L"Named", L"N", kNoMarks},
        {L"CLSID", nullptr, nullptr, kForceRemove},
        {L"CLSID", L"V", L"1", kNoMarks},
    };
    ASSERT_EQ(Apply(rows, true), S_OK);
    EXPECT_EQ(Read(L"Class", nullptr), L"Desc");
    EXPECT_EQ(Read(L"Class\\Server", nullptr), kQuotedModule);
    EXPECT_EQ(Read(L"Class\\Server", L"Model"), L"Both");
    EXPECT_FALSE(Exists(L"Class\\Stale"));
    EXPECT_EQ(Read(L"Class", L"Old"), L"<missing>");
    EXPECT_EQ(Read(L"Plain", L"Named"), L"N");
    EXPECT_EQ(Read(L"Plain", L"Other"), L"old");
    EXPECT_TRUE(Exists(L"CLSID\\Foreign"));
    EXPECT_EQ(Read(L"CLSID", L"V"), L"1");
}

TEST_F(RegistrationGroup, RemovalKeepsNoRemoveAndForeignSubkeysAndSkipsMissingKeysAndValues) {
    const Row rows[] = {
        {L"Gone", nullptr, L"G", kNoMarks},
        {L"Gone\\Sub", nullptr, nullptr, kNoMarks},
        {L"Gone\\Sub", L"V", L"1", kNoMarks},
        {L"Gone", L"Missing", L"", kNoMarks},
        {L"Shared", nullptr, L"S", kNoMarks},
        {L"Shared\\Listed", nullptr, nullptr, kNoMarks},
        {L"Shared", L"V", L"1", kNoMarks},
        {L"Kept", nullptr, nullptr, kNoRemove},
        {L"Kept", L"V", L"1", kNoMarks},
        {L"Absent", nullptr, nullptr, kNoMarks},
        {L"Absent\\Below", nullptr, nullptr, kNoMarks},
        {L"Absent\\Below", L"V", L"1", kNoMarks},
    };
    ASSERT_EQ(Apply(rows, true), S_OK);
    Write(L"Shared\\Foreign", L"Other");
    Write(L"Kept", L"Other");
    ASSERT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, Path(L"Absent")));
    UniqueHKey gone;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Path(L"Gone").c_str(), 0, KEY_SET_VALUE, gone.Put()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(gone.Get(), L"Missing"), ERROR_SUCCESS);
    gone.Reset();

    ASSERT_EQ(Apply(rows, false), S_OK);
    EXPECT_FALSE(Exists(L"Gone"));
    EXPECT_TRUE(Exists(L"Shared\\Foreign"));
    EXPECT_FALSE(Exists(L"Shared\\Listed"));
    EXPECT_EQ(Read(L"Shared", L"V"), L"<missing>");
    EXPECT_EQ(Read(L"Kept", L"V"), L"<missing>");
    EXPECT_EQ(Read(L"Kept", L"Other"), L"old");
    EXPECT_TRUE(Exists(L""));
    EXPECT_EQ(Apply(rows, false), S_OK);  // nothing left to remove is no error
}

// A volatile key cannot take a non-volatile subkey: the write of Child fails.
TEST_F(RegistrationGroup, FailedWriteRemovesTheGroupsEntriesAndReturnsTheError) {
    Write(L"", L"Other");
    UniqueHKey volatileKey;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Path(L"Volatile").c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, volatileKey.Put(), nullptr),
              ERROR_SUCCESS);
    const Row rows[] = {
        {L"First", nullptr, L"1", kNoMarks},
        {L"First\\Sub", nullptr, nullptr, kNoMarks},
        {L"Volatile", nullptr, nullptr, kNoMarks},
        {L"Volatile\\Child", nullptr, nullptr, kNoMarks},
        {L"Last", nullptr, nullptr, kNoMarks},
    };
    EXPECT_EQ(Apply(rows, true), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_FALSE(Exists(L"First"));
    EXPECT_FALSE(Exists(L"Last"));
    EXPECT_EQ(Read(L"", L"Other"), L"old");
}

// Removal walks a group backwards: that deletes children before their parents
// only when every key and value comes after the key row of its parent.
TEST(RegistrationTable, EveryRowFollowsTheKeyRowsOfItsParents) {
    for (const auto& group : registration::kAllGroups) {
        std::set<std::wstring> keys;
        for (const Row& row : group) {
            const std::wstring key = row.key;
            SCOPED_TRACE(key);
            const size_t slash = key.rfind(L'\\');
            if (slash != std::wstring::npos) {
                EXPECT_TRUE(keys.count(key.substr(0, slash)));
            }
            if (row.valueName) {
                EXPECT_TRUE(keys.count(key));
                EXPECT_EQ(row.marks, kNoMarks);
            } else {
                keys.insert(key);
            }
        }
    }
}

}  // namespace

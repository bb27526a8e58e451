// Registry: the two-step string read and the application keys.
#include <gtest/gtest.h>

#include "settings/AppKey.h"
#include "settings/Registry.h"
#include "settings/SettingsLight.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/VaultFixture.h"

namespace {

const std::wstring kTestKey = std::wstring(kAppKeyPath) + L"\\RegistryTest";

class RegistryRead : public testing::Test {
protected:
    void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        SetRegistryValue(HKEY_CURRENT_USER, kTestKey, name, type, data, size);
    }
    bool Read(const wchar_t* name, std::wstring& out) {
        Registry key;
        EXPECT_TRUE(key.Open(HKEY_CURRENT_USER, kTestKey.c_str(), KEY_READ));
        return key.ReadString(name, out);
    }

    RegistrySnapshot snapshot_{RegistrySnapshot::ApplicationKeys()};
};

TEST_F(RegistryRead, StringsWithoutTerminatorOrWithOddByteCountReadAsWholeCharacters) {
    const wchar_t text[] = L"ABC";
    SetValue(L"NoTerminator", REG_SZ, text, 6);
    SetValue(L"Odd", REG_SZ, text, 5);
    SetValue(L"OddWithTerminator", REG_SZ, L"AB\0", 5);

    std::wstring out;
    ASSERT_TRUE(Read(L"NoTerminator", out));
    EXPECT_EQ(out, L"ABC");
    ASSERT_TRUE(Read(L"Odd", out));
    EXPECT_EQ(out, L"AB");
    ASSERT_TRUE(Read(L"OddWithTerminator", out));
    EXPECT_EQ(out, L"AB");
}

TEST_F(RegistryRead, EmbeddedZeroEndsTheTextAndEmptyValueIsPresent) {
    SetValue(L"Embedded", REG_SZ, L"left\0right", 22);
    SetValue(L"Empty", REG_SZ, L"", 0);
    std::wstring out = L"unchanged";
    ASSERT_TRUE(Read(L"Embedded", out));
    EXPECT_EQ(out, L"left");
    ASSERT_TRUE(Read(L"Empty", out));
    EXPECT_EQ(out, L"");
}

TEST_F(RegistryRead, ExpandStringsAreExpandedAndUndefinedReferencesKept) {
    SetEnvironmentVariableW(L"ITEMPLUGIN_TEST_VAR", L"C:\\Expanded");
    const wchar_t defined[] = L"%ITEMPLUGIN_TEST_VAR%\\Sub";
    const wchar_t undefined[] = L"%ITEMPLUGIN_NO_SUCH_VAR%\\Sub";
    SetValue(L"Defined", REG_EXPAND_SZ, defined, sizeof(defined));
    SetValue(L"Undefined", REG_EXPAND_SZ, undefined, sizeof(undefined));
    std::wstring out;
    ASSERT_TRUE(Read(L"Defined", out));
    EXPECT_EQ(out, L"C:\\Expanded\\Sub");
    ASSERT_TRUE(Read(L"Undefined", out));
    EXPECT_EQ(out, L"%ITEMPLUGIN_NO_SUCH_VAR%\\Sub");
}

TEST_F(RegistryRead, NonStringTypesAndMissingValuesCountAsMissingAndLeaveOutAlone) {
    const DWORD number = 42;
    SetValue(L"Number", REG_DWORD, &number, sizeof(number));
    SetValue(L"Binary", REG_BINARY, L"AB", 4);
    SetValue(L"Multi", REG_MULTI_SZ, L"A\0B\0", 10);
    std::wstring out = L"unchanged";
    EXPECT_FALSE(Read(L"Number", out));
    EXPECT_FALSE(Read(L"Binary", out));
    EXPECT_FALSE(Read(L"Multi", out));
    EXPECT_FALSE(Read(L"Missing", out));
    EXPECT_EQ(out, L"unchanged");

    Registry key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, kTestKey.c_str(), KEY_READ));
    DWORD type = REG_DWORD, size = 4;
    EXPECT_FALSE(key.QueryString(L"Number", out, type, size));
    EXPECT_FALSE(key.ReadString(L"Missing", out));
}

TEST_F(RegistryRead, VeryLongValuesAreReadWhole) {
    std::wstring longText(200000, L'x');
    longText[199999] = L'y';
    SetValue(L"Long", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * 2));
    std::wstring out;
    ASSERT_TRUE(Read(L"Long", out));
    EXPECT_EQ(out, longText);
}

TEST_F(RegistryRead, ValueThatGrewBetweenTheTwoStepsCountsAsMissing) {
    SetValue(L"Grows", REG_SZ, L"short", 12);
    Registry key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, kTestKey.c_str(), KEY_READ));
    DWORD type = 0, size = 0;
    ASSERT_TRUE(key.QueryTypeAndSize(L"Grows", type, size));
    SetValue(L"Grows", REG_SZ, L"much longer now", 32);
    std::wstring out = L"unchanged";
    EXPECT_FALSE(key.QueryString(L"Grows", out, type, size));
    EXPECT_EQ(out, L"unchanged");
}

TEST_F(RegistryRead, OpenNeverCreates) {
    Registry key;
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, (kTestKey + L"\\Absent").c_str(), KEY_READ));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, (kTestKey + L"\\Absent").c_str(), KEY_READ));
    UniqueHKey absent;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (kTestKey + L"\\Absent").c_str(), 0, KEY_READ, absent.Put()),
              ERROR_FILE_NOT_FOUND);
}

class ApplicationKeys : public testing::Test {
protected:
    void SetUp() override {
        DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath);
    }
    RegistrySnapshot snapshot_{RegistrySnapshot::ApplicationKeys()};
};

TEST_F(ApplicationKeys, UserKeyIsCreatedWhenMissingAndMachineKeyIsNot) {
    SettingsLight settings;
    EXPECT_EQ(settings.MachineKey(), nullptr);
    Registry probe;
    EXPECT_FALSE(probe.Open(HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_READ));

    Registry* user = settings.UserKey();
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(settings.UserKey(), user);
    EXPECT_TRUE(probe.Open(HKEY_CURRENT_USER, kAppKeyPath, KEY_READ));
}

TEST_F(ApplicationKeys, FailedMachineOpenIsRetriedOnNextNeed) {
    SettingsLight settings;
    EXPECT_EQ(settings.MachineKey(), nullptr);
    SetRegistryString(HKEY_LOCAL_MACHINE, kAppKeyPath, L"Location", L"C:\\Prog");
    EXPECT_NE(settings.MachineKey(), nullptr);
}

}  // namespace

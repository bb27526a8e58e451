// Language selection: what is read, what is returned and what is written back.
#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <vector>

#include <sddl.h>

#include "common/UniqueResource.h"
#include "settings/AppKey.h"
#include "settings/SettingsLight.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/VaultFixture.h"

namespace {

const std::wstring kUserSettingsKey = std::wstring(kAppKeyPath) + L"\\Vaults\\_-Global\\Settings";
constexpr REGSAM k32 = KEY_WOW64_32KEY;
constexpr REGSAM k64 = KEY_WOW64_64KEY;

// A value as stored: its type and bytes.
struct RawValue {
    DWORD type;
    std::vector<BYTE> data;
    bool operator==(const RawValue&) const = default;
};

std::optional<RawValue> ReadRaw(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view) {
    UniqueHKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    RawValue value{type, std::vector<BYTE>(size)};
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, value.data.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

// A REG_SZ value as the plug-in writes it: the text and its terminating zero.
RawValue WrittenString(const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

// The four places the language lives in.
struct Place {
    HKEY root;
    std::wstring path;
    const wchar_t* name;
    REGSAM view;
};
const Place kUserChoice{HKEY_CURRENT_USER, kUserSettingsKey, L"0", 0};
const Place kUserCopy{HKEY_CURRENT_USER, kAppKeyPath, L"Language", 0};
const Place kMachine{HKEY_LOCAL_MACHINE, kAppKeyPath, L"DefaultLanguage", k64};
const Place kMachine32{HKEY_LOCAL_MACHINE, kAppKeyPath, L"DefaultLanguage", k32};
const Place* const kPlaces[] = {&kUserChoice, &kUserCopy, &kMachine, &kMachine32};

// What a test stores in a place: nothing (REG_NONE), a number (REG_DWORD) or a string.
struct Stored {
    DWORD type;
    const wchar_t* text;
};
constexpr Stored kNone{REG_NONE, nullptr};
constexpr Stored kNumber{REG_DWORD, nullptr};
constexpr Stored Sz(const wchar_t* text) { return {REG_SZ, text}; }
constexpr Stored ExpandSz(const wchar_t* text) { return {REG_EXPAND_SZ, text}; }

void Store(const Place& place, const Stored& stored) {
    if (stored.type == REG_NONE) return;
    if (stored.type == REG_DWORD) {
        const DWORD number = 7;
        SetRegistryValue(place.root, place.path, place.name, REG_DWORD, &number, sizeof(number), place.view);
        return;
    }
    SetRegistryValue(place.root, place.path, place.name, stored.type, stored.text,
                     static_cast<DWORD>((wcslen(stored.text) + 1) * sizeof(wchar_t)), place.view);
}

std::vector<std::optional<RawValue>> ReadAll() {
    std::vector<std::optional<RawValue>> values;
    for (const Place* place : kPlaces) values.push_back(ReadRaw(place->root, place->path, place->name, place->view));
    return values;
}

// Creates root\path as a volatile key, under which no lasting key can be created.
void CreateVolatileKey(HKEY root, const std::wstring& path) {
    UniqueHKey key;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Put(),
                              nullptr),
              ERROR_SUCCESS);
}

class Language : public testing::Test {
protected:
    void SetUp() override { ClearKeys(); }
    static void ClearKeys() {
        DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath, k64);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath, k32);
    }
    void TearDown() override { SetEnvironmentVariableW(L"ITEMPLUGIN_LANGUAGE", nullptr); }

    RegistrySnapshot snapshot_{RegistrySnapshot::ApplicationKeys()};
};

TEST_F(Language, ChoiceDefaultPlaceholderAndWhatIsRecorded) {
    struct Case {
        const char* what;
        Stored user, machine, machine32;
        const wchar_t* result;
        const wchar_t* recorded;  // null: nothing is written
    };
    const Case cases[] = {
        {"user choice", Sz(L"FR"), Sz(L"DE"), Sz(L"DE"), L"FR", nullptr},
        {"empty user choice", Sz(L""), Sz(L"DE"), kNone, L"", nullptr},
        {"expandable user choice", ExpandSz(L"%ITEMPLUGIN_LANGUAGE%"), Sz(L"DE"), kNone, L"NL", nullptr},
        {"lower-case placeholder", Sz(L"s"), Sz(L"DE"), Sz(L"XX"), L"DE", L"DE"},
        {"placeholder, no 32-bit copy", Sz(L"S"), Sz(L"DE"), kNone, L"DE", L"DE"},
        {"number as user choice", kNumber, Sz(L"DE"), kNone, L"DE", L"DE"},
        {"machine placeholder", kNone, Sz(L"S"), kNone, L"GB", L"GB"},
        {"lower-case machine placeholder", kNone, Sz(L"s"), Sz(L"S"), L"GB", L"GB"},
        {"expandable machine default", kNone, ExpandSz(L"%ITEMPLUGIN_LANGUAGE%"), Sz(L"XX"), L"NL", L"NL"},
        {"32-bit copy is no string", kNone, Sz(L"DE"), kNumber, L"DE", L"DE"},
        {"no choice, no default", kNone, kNone, kNone, L"GB", nullptr},
        {"default only in the 32-bit view", kNone, kNone, Sz(L"DE"), L"GB", nullptr},
        {"number as machine default", Sz(L"S"), kNumber, Sz(L"XX"), L"GB", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearKeys();
        SetEnvironmentVariableW(L"ITEMPLUGIN_LANGUAGE", L"NL");
        Store(kUserChoice, c.user);
        Store(kMachine, c.machine);
        Store(kMachine32, c.machine32);
        const auto before = ReadAll();

        EXPECT_EQ(SettingsLight().GetLanguage(), c.result);

        const auto after = ReadAll();
        if (!c.recorded) {
            EXPECT_EQ(after, before);
            continue;
        }
        const RawValue written = WrittenString(c.recorded);
        EXPECT_EQ(after[0], written) << "user \"0\"";
        EXPECT_EQ(after[1], written) << "user \"Language\"";
        EXPECT_EQ(after[2], written) << "machine default";
        const bool copyPresent = c.machine32.type == REG_SZ || c.machine32.type == REG_EXPAND_SZ;
        EXPECT_EQ(after[3], copyPresent ? std::optional(written) : before[3]) << "32-bit view: only an existing copy";
    }
}

TEST_F(Language, RecordedChoiceAnswersLaterCalls) {
    Store(kMachine, Sz(L"DE"));
    SettingsLight settings;
    EXPECT_EQ(settings.GetLanguage(), L"DE");
    Store(kMachine, Sz(L"IT"));
    EXPECT_EQ(settings.GetLanguage(), L"DE");
    EXPECT_EQ(SettingsLight().GetLanguage(), L"DE");
    EXPECT_EQ(ReadRaw(kMachine.root, kMachine.path, kMachine.name, kMachine.view), WrittenString(L"IT"));
}

TEST_F(Language, WithoutTheUserSettingsKeyTheDefaultIsUsedButNotRecorded) {
    for (const wchar_t* machineDefault : {L"DE", L"s"}) {
        SCOPED_TRACE(testing::Message() << machineDefault);
        ClearKeys();
        // No lasting key can be created below a volatile one.
        SetRegistryString(HKEY_CURRENT_USER, std::wstring(kAppKeyPath) + L"\\Vaults", L"x", L"x");
        CreateVolatileKey(HKEY_CURRENT_USER, std::wstring(kAppKeyPath) + L"\\Vaults\\_-Global");
        Store(kMachine, Sz(machineDefault));
        Store(kMachine32, Sz(L"XX"));
        const auto before = ReadAll();

        EXPECT_EQ(SettingsLight().GetLanguage(), EqualsIgnoreCase(machineDefault, L"S") ? L"GB" : machineDefault);
        EXPECT_EQ(ReadAll(), before);
    }
}

TEST_F(Language, WithoutTheUserApplicationKeyTheAnswerIsGB) {
    const std::wstring applications = L"Software\\Kestrelmar\\Applications";
    RegistrySnapshot parents{{{HKEY_CURRENT_USER, L"Software\\Kestrelmar", 0}}};
    ASSERT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, applications));
    CreateVolatileKey(HKEY_CURRENT_USER, applications);
    Store(kMachine, Sz(L"DE"));
    const auto before = ReadAll();

    SettingsLight settings;
    ASSERT_EQ(settings.UserKey(), nullptr);
    EXPECT_EQ(settings.GetLanguage(), L"GB");
    EXPECT_EQ(ReadAll(), before);
}

// A standard user may read the machine's default but not write it: the
// default still answers, recorded as the user's choice, and the machine's
// value stays as it is.
TEST_F(Language, MachineDefaultThatTheUserCannotWriteStillAnswers) {
    Store(kMachine, Sz(L"DE"));
    UniqueHKey machine;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppKeyPath, 0, READ_CONTROL | WRITE_DAC, machine.Put()), ERROR_SUCCESS);
    DWORD size = 0;
    RegGetKeySecurity(machine.Get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> original(size);
    ASSERT_EQ(RegGetKeySecurity(machine.Get(), DACL_SECURITY_INFORMATION, original.data(), &size), ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                     nullptr));
    ASSERT_EQ(RegSetKeySecurity(machine.Get(), DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
    LocalFree(readOnly);

    UniqueHKey writable;
    const bool enforced =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppKeyPath, 0, KEY_SET_VALUE, writable.Put()) == ERROR_ACCESS_DENIED;
    std::wstring language;
    if (enforced) language = SettingsLight().GetLanguage();
    ASSERT_EQ(RegSetKeySecurity(machine.Get(), DACL_SECURITY_INFORMATION, original.data()), ERROR_SUCCESS);
    if (!enforced) GTEST_SKIP() << "the registry does not enforce the key's access list here";

    EXPECT_EQ(language, L"DE");
    EXPECT_EQ(ReadRaw(kUserChoice.root, kUserChoice.path, kUserChoice.name, kUserChoice.view), WrittenString(L"DE"));
}

}  // namespace

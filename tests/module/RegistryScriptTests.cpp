// The registry script parser and the registrar's write and removal rules,
// applied to a scratch key of the current user.
#include <gtest/gtest.h>

#include "common/UniqueResource.h"
#include "module/Registrar.h"
#include "module/RegistryScript.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/VaultFixture.h"

namespace {

ScriptReplacements TestReplacements() {
    ScriptReplacements replacements;
    replacements.Add(L"Module", L"C:\\it''s\\100%X%.dll");
    replacements.Add(L"APPID", L"{APP}");
    return replacements;
}

// Marks, names and data in a compact form: N: NoRemove, F: ForceRemove.
std::wstring Dump(const std::vector<RegistryScriptEntry>& entries) {
    std::wstring out;
    for (const auto& e : entries) {
        if (e.kind == RegistryScriptEntry::Kind::Value) out += L"val ";
        out += std::wstring(e.noRemove ? L"N:" : L"") + (e.forceRemove ? L"F:" : L"") + L"[" + e.name + L"]";
        if (e.hasData) out += L"=" + e.data;
        if (!e.children.empty()) out += L"{" + Dump(e.children) + L"}";
        out += L";";
    }
    return out;
}

TEST(RegistryScriptParse, ReadsRootsMarksDefaultsAndValuesInOrder) {
    const wchar_t* text = LR"(
        HKCR
        {
            NoRemove CLSID
            {
                forceremove {GUID} = S 'Desc'
                {
                    'Sub Key' = s 'it''s'
                    VAL Path = s '%module%'
                    NoRemove val Kept = s '100%%'
                    ''''
                }
            }
        }
        HKEY_CURRENT_USER { Software })";
    RegistryScript script;
    ASSERT_EQ(ParseRegistryScript(text, TestReplacements(), script), S_OK);
    ASSERT_EQ(script.size(), 2u);
    EXPECT_EQ(script[0].root, HKEY_CLASSES_ROOT);
    // The doubled quote of the replacement reads as one; its '%' is not expanded again.
    EXPECT_EQ(Dump(script[0].keys),
              L"N:[CLSID]{F:[{GUID}]=Desc{[Sub Key]=it's;val [Path]=C:\\it's\\100%X%.dll;val N:[Kept]=100%;['];};};");
    EXPECT_EQ(script[1].root, HKEY_CURRENT_USER);
    EXPECT_EQ(Dump(script[1].keys), L"[Software];");
}

TEST(RegistryScriptParse, MalformedScriptsGiveDispException) {
    const std::wstring deep = std::wstring(L"HKCU { ") + [] {
        std::wstring nested;
        for (int i = 0; i < 200; ++i) nested += L"K { ";
        for (int i = 0; i < 200; ++i) nested += L"} ";
        return nested;
    }() + L"}";
    const std::wstring cases[] = {
        L"HKXX { }",
        L"HKCR",
        L"HKCR Key",
        L"HKCR { Key",
        L"HKCR { Key = s 'text }",
        L"HKCR { Key = 'text' }",
        L"HKCR { Key = d '1' }",
        L"HKCR { Key = s text }",
        L"HKCR { Key = s '%NOPE%' }",
        L"HKCR { Key = s '50%' }",
        L"HKCR { val V = s 'x' }",
        L"HKCR { Key { val = s 'x' } }",
        L"HKCR { Key { ForceRemove val V = s 'x' } }",
        L"HKCR { ForceRemove NoRemove Key }",
        L"HKCR { ForceRemove }",
        L"HKCR { '' }",
        L"HKCR { Parent\\Child }",
        L"HKCR { Key } }",
        L"HKCR { = }",
        L"HKCR { ab'cd }",
        deep,
    };
    for (const auto& text : cases) {
        RegistryScript script;
        EXPECT_EQ(ParseRegistryScript(text, TestReplacements(), script), DISP_E_EXCEPTION) << text;
    }
}

const std::wstring kScratch = L"Software\\ItemPluginRegistrarTest";

class RegistrarRules : public testing::Test {
protected:
    static HRESULT Apply(const std::wstring& body, bool registerMode) {
        const std::wstring text = L"HKCU { NoRemove Software { NoRemove ItemPluginRegistrarTest { " + body + L" } } }";
        return ApplyRegistryScriptText(text, TestReplacements(), registerMode);
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
};

TEST_F(RegistrarRules, RegisterWritesValuesAndForceRemoveClearsAllButProtectedNames) {
    Write(L"Class\\Stale", L"Old");
    Write(L"Class", L"Old");
    Write(L"Plain", L"Other");
    Write(L"CLSID\\Foreign", L"Other");

    ASSERT_EQ(Apply(L"ForceRemove Class = s 'Desc' { Server = s '%MODULE%' { val Model = s 'Both' } } "
                    L"Plain = s 'P' { val Named = s 'N' } ForceRemove CLSID { val V = s '1' }",
                    true),
              S_OK);
    EXPECT_EQ(Read(L"Class", nullptr), L"Desc");
    EXPECT_EQ(Read(L"Class\\Server", nullptr), L"C:\\it's\\100%X%.dll");
    EXPECT_EQ(Read(L"Class\\Server", L"Model"), L"Both");
    EXPECT_FALSE(Exists(L"Class\\Stale"));
    EXPECT_EQ(Read(L"Class", L"Old"), L"<missing>");
    EXPECT_EQ(Read(L"Plain", L"Named"), L"N");
    EXPECT_EQ(Read(L"Plain", L"Other"), L"old");
    EXPECT_TRUE(Exists(L"CLSID\\Foreign"));
    EXPECT_EQ(Read(L"CLSID", L"V"), L"1");
}

TEST_F(RegistrarRules, RemovalKeepsNoRemoveAndForeignSubkeysAndSkipsMissingKeys) {
    const std::wstring script =
        L"Gone = s 'G' { Sub { val V = s '1' } val Missing = s '' } "
        L"Shared = s 'S' { Listed val V = s '1' } "
        L"NoRemove Kept { val V = s '1' } "
        L"Absent { Below { val V = s '1' } }";
    ASSERT_EQ(Apply(script, true), S_OK);
    Write(L"Shared\\Foreign", L"Other");
    Write(L"Kept", L"Other");
    ASSERT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, Path(L"Absent")));

    ASSERT_EQ(Apply(script, false), S_OK);
    EXPECT_FALSE(Exists(L"Gone"));
    EXPECT_TRUE(Exists(L"Shared\\Foreign"));
    EXPECT_FALSE(Exists(L"Shared\\Listed"));
    EXPECT_EQ(Read(L"Shared", L"V"), L"<missing>");
    EXPECT_EQ(Read(L"Kept", L"V"), L"<missing>");
    EXPECT_EQ(Read(L"Kept", L"Other"), L"old");
    EXPECT_TRUE(Exists(L""));
    EXPECT_EQ(Apply(script, false), S_OK);  // nothing left to remove is no error
}

// A volatile key cannot take a non-volatile subkey: the write of Child fails.
TEST_F(RegistrarRules, FailedWriteRemovesTheScriptsEntriesAndReturnsTheError) {
    Write(L"", L"Other");
    UniqueHKey volatileKey;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Path(L"Volatile").c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, volatileKey.Put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(Apply(L"First = s '1' { Sub } Volatile { Child } Last", true),
              HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_FALSE(Exists(L"First"));
    EXPECT_FALSE(Exists(L"Last"));
}

}  // namespace

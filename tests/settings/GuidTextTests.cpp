// GUID texts as a vault view's desktop.ini holds them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "settings/GuidText.h"
#include "tests/support/GuidScan.h"
#include "tests/support/Units.h"

namespace {

constexpr GuidFields kCanonical{0xABCDEF01, 0x2345, 0x6789, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
constexpr GuidFields kShort{1, 2, 3, {0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23}};

void ExpectFields(const GuidFields& got, const GuidFields& want, const UnitString& text) {
    EXPECT_EQ(got.data1, want.data1) << testing::PrintToString(text);
    EXPECT_EQ(got.data2, want.data2) << testing::PrintToString(text);
    EXPECT_EQ(got.data3, want.data3) << testing::PrintToString(text);
    EXPECT_EQ(std::memcmp(got.data4, want.data4, 8), 0) << testing::PrintToString(text);
}

// What the reading has always accepted, field by field: stored identities must
// keep reading as they did.
TEST(GuidText, ReadsAsItAlwaysHas) {
    struct Case {
        const char* text;
        GuidFields fields;
    };
    const Case accepted[] = {
        {"{ABCDEF01-2345-6789-ABCD-EF0123456789}", kCanonical},
        {"{abcdef01-2345-6789-abcd-ef0123456789}", kCanonical},
        {"{ABCDEF01-2345-6789-ABCD-EF0123456789", kCanonical},          // no closing brace
        {"{ABCDEF01-2345-6789-ABCD-EF0123456789}trailing", kCanonical},  // text after it
        {"{ABCDEF01-2345-6789-ABCD-EF01234567890}", kCanonical},         // a digit too many at the end
        {"{ ABCDEF01-\t2345-\n6789-\rAB\vCD-\fEF01 23456789}", kCanonical},  // white space before a field
        {"{1-2-3-4567-89ABCDEF0123}", kShort},                            // fewer digits than the width
        {"{+1-2-3-4567-89ABCDEF0123}", kShort},
        {"{0x1-0X2-3-4567-89ABCDEF0123}", kShort},
        {"{-1-2-3-4567-89ABCDEF0123}", {0xFFFFFFFF, 2, 3, {0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23}}},
        {"{-0x1234-2-3--5-6-89ABCDEF0123}", {0xFFFFEDCC, 2, 3, {0xFB, 0xFA, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23}}},
        {"{+0x12345-2-3-4567-89ABCDEF0123}", {0x12345, 2, 3, {0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23}}},
        {"{0x-2-3-0x0x-89ABCDEF0123}", {0, 2, 3, {0, 0, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23}}},  // a bare prefix reads 0
        {"{1-2-3-4567-89ABCDEF01-2}", {1, 2, 3, {0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0xFE}}},
        {"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}", {0xFFFFFFFF, 0xFFFF, 0xFFFF, {255, 255, 255, 255, 255, 255, 255, 255}}},
    };
    for (const Case& c : accepted) {
        const UnitString text = Units(c.text);
        GuidFields out;
        ASSERT_TRUE(ParseGuidText(text, out)) << c.text;
        ExpectFields(out, c.fields, text);
    }

    const char* const rejected[] = {
        "",
        "{",
        "{}",
        "garbage",
        " {ABCDEF01-2345-6789-ABCD-EF0123456789}",  // white space before the brace
        "ABCDEF01-2345-6789-ABCD-EF0123456789}",    // no opening brace
        "{ABCDEF01 -2345-6789-ABCD-EF0123456789}",  // white space before a dash
        "{ABCDEF012-2345-6789-ABCD-EF0123456789}",  // a digit too many in a field
        "{ABCDEF01-2345-6789-ABCD-EF01234567}",     // truncated
        "{ABCDEF01-2345-6789-ABCD}",
        "{1-2-3-4567-89ABCDEF01",                   // ten fields
        "{ZZZZZZZZ-2345-6789-ABCD-EF0123456789}",
        "{0x1234567-2-3-4567-89ABCDEF0123}",        // the prefix counts toward the width
        "{- 1-2-3-4567-89ABCDEF0123}",              // white space after the sign
        "{+-1-2-3-4567-89ABCDEF0123}",
        "{1-2-3-45-6789ABCDEF01}",                  // the dash after 45 reads as the next field's sign
        "{1-2-3-00x1-89ABCDEF0123}",
    };
    for (const char* text : rejected) {
        GuidFields out;
        out.data1 = 0x5EED;
        EXPECT_FALSE(ParseGuidText(Units(text), out)) << text;
        EXPECT_EQ(out.data1, 0x5EEDu) << "written on failure: " << text;
    }

    // The text ends at its first NUL.
    UnitString cut = Units("{ABCDEF01-2345-6789-ABCD-EF0123456789}");
    cut[20] = 0;
    GuidFields out;
    EXPECT_FALSE(ParseGuidText(cut, out));
}

// Code units outside ASCII were left to the C runtime's character tables,
// which differ between runtimes; now they match nothing.
TEST(GuidText, CodeUnitsOutsideAsciiMatchNothing) {
    GuidFields out;
    UnitString spaced = Units("{ ABCDEF01-2345-6789-ABCD-EF0123456789}");
    spaced[1] = 0x3000;  // ideographic space
    EXPECT_FALSE(ParseGuidText(spaced, out));
    UnitString wide = Units("{ABCDEF01-2345-6789-ABCD-EF0123456789}");
    wide[1] = 0xFF21;  // fullwidth A
    EXPECT_FALSE(ParseGuidText(wide, out));
    UnitString after = Units("{ABCDEF01-2345-6789-ABCD-EF0123456789}");
    after.back() = 0x00A0;
    ASSERT_TRUE(ParseGuidText(after, out)) << "nothing after the last field is looked at";
    ExpectFields(out, kCanonical, after);
}

// Every ASCII text reads as swscanf reads it: texts a few edits away from
// GUID texts, over the characters its directives care about.
TEST(GuidText, ReadsEveryAsciiTextAsSwscanfDoes) {
    const char* const bases[] = {"{ABCDEF01-2345-6789-ABCD-EF0123456789}", "{1-2-3-4567-89ABCDEF0123}",
                                 "{0x1-0x2-0x3-0x0x-0x0x0x0x0x0x}", "{-1-+2-3-4-5-6-7-8-9-A-B}"};
    const std::string alphabet = "0123456789abcdefABCDEFxXgG+-{} \t\n\v\f\r";
    std::mt19937 random(20240301);
    size_t accepted = 0;
    for (int i = 0; i < 40000; ++i) {
        UnitString text = Units(bases[random() % std::size(bases)]);
        for (int edits = random() % 6; edits > 0; --edits) {
            const size_t at = random() % (text.size() + 1);
            const CodeUnit c = random() % 50 ? static_cast<CodeUnit>(alphabet[random() % alphabet.size()]) : 0;
            switch (random() % 4) {
                case 0: text.insert(text.begin() + at, c); break;
                case 1: if (at < text.size()) text.erase(at, 1); break;
                case 2: if (at < text.size()) text[at] = c; break;
                default: text.resize(at); break;
            }
        }
        GuidFields parsed, scanned;
        const bool parsedOk = ParseGuidText(text, parsed);
        ASSERT_EQ(parsedOk, ScanGuidText(text, scanned)) << testing::PrintToString(text);
        if (parsedOk) {
            ++accepted;
            ExpectFields(parsed, scanned, text);
        }
    }
    EXPECT_GT(accepted, 4000u) << "the edits should leave many texts readable";
}

}  // namespace

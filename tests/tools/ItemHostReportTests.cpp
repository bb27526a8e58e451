// The host tool's report: result meanings, dates, the table and JSON.
#include <gtest/gtest.h>

#include "tools/itemhost/Report.h"
#include "tools/itemhost/ResultText.h"

namespace {

TEST(ItemHostReport, ResultsCarryTheirMeaning) {
    EXPECT_EQ(DescribeResult(static_cast<HRESULT>(0x80040213)), L"0x80040213: the item is not in the cache");
    EXPECT_EQ(DescribeResult(static_cast<HRESULT>(0x8004021D)).rfind(L"0x8004021D: the path is no item path", 0), 0u);
    EXPECT_EQ(HexResult(S_OK), L"0x00000000");
    EXPECT_FALSE(ResultMeaning(static_cast<HRESULT>(0x80070002)).empty()) << "system messages fill the rest";
    EXPECT_EQ(ResultMeaning(static_cast<HRESULT>(0xA0001234)), L"unknown result");
}

TEST(ItemHostReport, DatesAndAbsentDates) {
    EXPECT_EQ(DateText(45352.5), L"2024-03-01 12:00:00");
    EXPECT_EQ(DateText(0.0), L"none");
    EXPECT_EQ(DateText(-1.0), L"none");
}

TEST(ItemHostReport, TextAndJsonShowEveryAnswer) {
    FormatInfo format;
    format.source = L"test";
    format.infoResult = S_OK;
    format.maker = L"Maker";
    format.extensions = L"<item>";
    format.capabilitiesResult = S_OK;
    format.capabilities = 0x4001;

    ItemAnswer found;
    found.path = L"C:\\V\\<items>\\A \"q\".<item>";
    found.navigatorResult = found.referencesResult = found.dateResult = S_OK;
    found.date = 45352.5;
    ReferenceRow row;
    row.name = L"Tab\there";
    row.path = L"C:\\x";
    row.typeCode = 5;
    row.linkCode = 4;
    row.numbers[0] = 7;
    row.numbers[4] = 3;
    found.references.push_back(row);
    ItemAnswer missing;
    missing.path = L"C:\\V\\<items>\\B.<item>";
    missing.navigatorResult = static_cast<HRESULT>(0x80040213);

    const std::wstring text = FormatText(format, {found, missing});
    EXPECT_NE(text.find(L"Capabilities:  0x00004001"), std::wstring::npos);
    EXPECT_NE(text.find(L"References:    1"), std::wstring::npos);
    EXPECT_NE(text.find(L"Date:          2024-03-01 12:00:00"), std::wstring::npos);
    EXPECT_NE(text.find(L"0x80040213: the item is not in the cache"), std::wstring::npos);

    const std::wstring json = FormatJson(format, {found, missing});
    EXPECT_NE(json.find(L"\"path\": \"C:\\\\V\\\\<items>\\\\A \\\"q\\\".<item>\""), std::wstring::npos);
    EXPECT_NE(json.find(L"\"name\": \"Tab\\there\""), std::wstring::npos);
    EXPECT_NE(json.find(L"\"numbers\": [7, 0, 0, 0, 3]"), std::wstring::npos);
    EXPECT_NE(json.find(L"\"result\": \"0x80040213\", \"meaning\": \"the item is not in the cache\""), std::wstring::npos);
    EXPECT_EQ(FormatJson(format, {}).find(L"\"items\": []"), FormatJson(format, {}).find(L"\"items\""));
}

}  // namespace

// The host tool's report: result meanings, dates, the table and JSON.
#include <gtest/gtest.h>

#include <limits>

#include "tools/common/DateText.h"
#include "tools/common/Json.h"
#include "tools/common/ResultText.h"
#include "tools/itemhost/Report.h"

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
    EXPECT_EQ(DateText(std::numeric_limits<double>::quiet_NaN()).rfind(L"invalid", 0), 0u);
    EXPECT_EQ(DateText(std::numeric_limits<double>::infinity()).rfind(L"invalid", 0), 0u);
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
    HostReference row;
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

    // Strict JSON whatever the values: a date that is no number, a name with a
    // lone surrogate (a stored text cut inside a pair).
    ItemAnswer odd = found;
    odd.date = std::numeric_limits<double>::quiet_NaN();
    odd.references[0].name = std::wstring(L"half ") + static_cast<wchar_t>(0xD83D);
    const Json json = Json::parse(JsonText(FormatJson(format, {found, missing, odd})));
    const Json& items = json.at("items");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].at("path"), "C:\\V\\<items>\\A \"q\".<item>");
    EXPECT_EQ(items[0].at("references")[0].at("name"), "Tab\there");
    EXPECT_EQ(items[0].at("references")[0].at("numbers"), Json({7, 0, 0, 0, 3}));
    EXPECT_EQ(items[0].at("oleDate"), 45352.5);
    EXPECT_EQ(items[1].at("result"), "0x80040213");
    EXPECT_EQ(items[1].at("meaning"), "the item is not in the cache");
    EXPECT_TRUE(items[2].at("oleDate").is_null());
    EXPECT_EQ(items[2].at("references")[0].at("name"), "half \xEF\xBF\xBD");
    EXPECT_EQ(json.at("plugin").at("capabilities"), 0x4001);
    EXPECT_EQ(FormatJson(format, {}).at("items"), Json::array());
}

}  // namespace

// The record parsers over bytes, as every platform builds them: read piece by
// piece, from a stream that stops early, and the texts the host receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "cache/RecordParse.h"
#include "plugin/ReferenceCodes.h"
#include "tests/support/ByteSource.h"
#include "tests/support/Units.h"
#include "tools/cachewriter/StoredRecord.h"

namespace {

std::span<const std::byte> View(const Bytes& bytes) { return std::as_bytes(std::span(bytes)); }

template <class Cursor>
ResultCode Names(Cursor& cursor, std::vector<UnitString>& names) {
    return ParseChildList(cursor, [&](Cursor& records) {
        RecordView child;
        const ResultCode result = ParseRecord(records, child);
        if (!IsFailure(result)) names.push_back(StoredText(child.name));
        return result;
    });
}

Bytes ThreeChildren() {
    std::vector<StoredRecord> children(3);
    children[0].name = Units("first");
    children[1].name = UnitString(260, CodeUnit('n'));  // a whole field
    children[1].path = UnitString(520, CodeUnit('p'));
    children[2].name = Units("third");
    return ChildrenStream(children);
}

TEST(RecordParse, PiecesOfAnySizeGiveTheChildrenOfOneRead) {
    const Bytes stream = ThreeChildren();
    std::vector<UnitString> whole;
    RecordCursor cursor(View(stream));
    ASSERT_EQ(Names(cursor, whole), kSucceeded);
    ASSERT_EQ(whole.size(), 3u);
    EXPECT_EQ(whole[2], Units("third"));
    for (size_t piece : {1u, 3u, 50u, 1000u, 64u * 1024}) {
        std::vector<UnitString> pieces;
        PieceCursor<ByteSource> reader(ByteSource(View(stream)), stream.size(), piece);
        EXPECT_EQ(Names(reader, pieces), kSucceeded) << piece;
        EXPECT_EQ(pieces, whole) << piece;
    }
}

TEST(RecordParse, AStreamThatStopsEarlyEndsWithWhatArrived) {
    const Bytes stream = ThreeChildren();
    const size_t third = stream.size() - (60 + 10);  // where the third record starts
    for (bool fails : {false, true}) {
        for (size_t stopAt : {size_t{0}, size_t{6}, third, third + 20, stream.size() - 1}) {
            std::vector<UnitString> names;
            PieceCursor<ByteSource> reader(ByteSource(View(stream).first(stopAt), fails), stream.size(), 100);
            EXPECT_EQ(Names(reader, names), kCacheReadFailed) << stopAt;
            EXPECT_EQ(names.size(), stopAt >= third ? 2u : 0u) << stopAt;
        }
    }
}

// What ended a record is told apart: its bytes running out, or a text's byte
// count that no field can hold; the fields read before stay, the counts once reached.
TEST(RecordParse, DamageSaysWhatEndedTheRecord) {
    StoredRecord stored;
    stored.name = Units("abc");
    const Bytes whole = stored.Serialize();
    struct Case {
        size_t keep;
        std::optional<std::int32_t> nameBytes;
        RecordDamage damage;
    };
    for (const Case& c : {Case{whole.size(), {}, RecordDamage::None}, Case{whole.size() - 1, {}, RecordDamage::CutShort},
                          Case{2, {}, RecordDamage::CutShort}, Case{8, {}, RecordDamage::CutShort},
                          Case{whole.size(), 522, RecordDamage::TextBeyondField},
                          Case{whole.size(), -2, RecordDamage::TextBeyondField},
                          Case{30, 4000, RecordDamage::CutShort}}) {
        StoredRecord record = stored;
        record.nameBytes = c.nameBytes;
        const Bytes bytes = record.Serialize();
        RecordCursor cursor(View(bytes).first(std::min(c.keep, bytes.size())));
        RecordView view;
        EXPECT_EQ(ParseRecordDamage(cursor, view), c.damage) << c.keep;
        EXPECT_EQ(ResultOf(c.damage), c.damage == RecordDamage::None ? kSucceeded : kCacheReadFailed);
        EXPECT_EQ(view.recordVersion, c.keep >= 4 ? 1 : 0) << c.keep;
        EXPECT_EQ(view.nameBytes.has_value(), c.keep >= 12) << c.keep;
        if (c.damage == RecordDamage::TextBeyondField) {
            EXPECT_EQ(*view.nameBytes, *c.nameBytes);
            EXPECT_EQ(view.ref4, 14) << "the numbers before the texts are read";
        }
    }
    // A version below 1 is a whole record of 4 bytes, with no byte counts at all.
    const std::byte none[4] = {};
    RecordCursor cursor(none);
    RecordView view;
    EXPECT_EQ(ParseRecordDamage(cursor, view), RecordDamage::None);
    EXPECT_FALSE(view.nameBytes);
    EXPECT_EQ(cursor.Remaining(), 0u);
}

// State 3 keeps a child from the host whatever its type; type 3 only after SetOption(3).
TEST(HostFilter, StateHidesFirstAndTypeOnlyWithTheOption) {
    EXPECT_EQ(HiddenFromHost(3, 3, true), HiddenBy::State);
    EXPECT_EQ(HiddenFromHost(0, 3, true), HiddenBy::Type);
    EXPECT_EQ(HiddenFromHost(0, 3, false), HiddenBy::Nothing);
    EXPECT_EQ(HiddenFromHost(-1, -1, true), HiddenBy::Nothing) << "a record of version 0 is shown";
    EXPECT_FALSE(IsShownToHost(3, 1, false));
    EXPECT_TRUE(IsShownToHost(0, 3, false));
}

TEST(StoredText, TextsAsTheHostReceivesThem) {
    const std::byte odd[] = {std::byte{'a'}, std::byte{0}, std::byte{'b'}};
    EXPECT_EQ(StoredText(odd), Units("ab")) << "a last odd byte is a code unit of its own";
    const std::byte cut[] = {std::byte{'a'}, std::byte{0}, std::byte{0}, std::byte{0}, std::byte{'b'}, std::byte{0}};
    EXPECT_EQ(StoredText(cut), Units("a")) << "the text ends at its first NUL";
    // A record whose version is below 1 has no texts at all: nothing behind them.
    EXPECT_EQ(StoredText({}), UnitString());
    CodeUnit untouched = 'x';
    CopyStoredText({}, &untouched, 0);
    EXPECT_EQ(untouched, 'x');
}

}  // namespace

// The item record and children-list parsers: read from one span and piece by
// piece they hand out the same children; a record parsed into an ItemObject
// sets exactly the fields the stored layout gives, in order, up to where it
// fails; every text lies within the bytes and within its field, and an
// ItemObject's texts always end.
//
// Input: byte 0 picks the piece size of the piecewise read, byte 1 where its
// stream stops early (0: never), byte 2 whether it stops as a failed read; the
// rest is a children stream, also read as one item record.
#include <cmath>
#include <cstring>
#include <vector>

#include "cache/RecordParse.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/ByteSource.h"

namespace {

constexpr std::size_t kControlBytes = 3;

// A child as a parser handed it out, its texts copied while they are valid.
struct Child {
    std::int32_t numbers[11];
    std::uint64_t timestampBits;
    std::vector<std::byte> name, path;

    bool operator==(const Child&) const = default;
};

void CheckText(std::span<const std::byte> text, std::size_t fieldChars, std::span<const std::byte> within) {
    FUZZ_CHECK(text.size() <= 2 * fieldChars);
    if (!text.empty() && !within.empty()) {
        FUZZ_CHECK(text.data() >= within.data() && text.data() + text.size() <= within.data() + within.size());
    }
    // The host's text: every code unit before the first NUL, in an exact block.
    const std::size_t length = StoredTextLength(text);
    FUZZ_CHECK(length <= (text.size() + 1) / 2 && length <= fieldChars);
    const auto units = std::make_unique<CodeUnit[]>(length);
    CopyStoredText(text, units.get(), length);
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned low = std::to_integer<unsigned>(text[2 * i]);
        const unsigned high = 2 * i + 1 < text.size() ? std::to_integer<unsigned>(text[2 * i + 1]) : 0;
        FUZZ_CHECK(units[i] == (low | high << 8) && units[i] != 0);
    }
    if (2 * length < text.size()) {
        FUZZ_CHECK(text[2 * length] == std::byte{0});
        FUZZ_CHECK(2 * length + 1 == text.size() || text[2 * length + 1] == std::byte{0});
    }
}

Child Copy(const RecordView& v, std::span<const std::byte> within) {
    CheckText(v.name, ItemObject::kNameChars, within);
    CheckText(v.path, ItemObject::kPathChars, within);
    Child child{{v.recordVersion, v.itemType, v.state, v.aux1, v.aux2, v.ref1, v.ref2, v.ref3, v.ref4, v.linkType,
                 v.timestampKind},
                0,
                {v.name.begin(), v.name.end()},
                {v.path.begin(), v.path.end()}};
    std::memcpy(&child.timestampBits, &v.timestamp, sizeof(double));
    return child;
}

struct Walk {
    ResultCode result = kSucceeded;
    std::vector<Child> children;
    std::vector<std::size_t> offsets;  // where each child starts, for a span's walk
};

template <class Cursor>
Walk WalkList(Cursor& cursor, std::span<const std::byte> within) {
    Walk walk;
    walk.result = ParseChildList(cursor, [&](Cursor& records) {
        if constexpr (std::is_same_v<Cursor, RecordCursor>) walk.offsets.push_back(records.Offset());
        RecordView child;
        const ResultCode parsed = ParseRecord(records, child);
        FUZZ_CHECK(parsed == kSucceeded || parsed == kCacheReadFailed);
        if (!IsFailure(parsed)) walk.children.push_back(Copy(child, within));
        return parsed;
    });
    return walk;
}

// The stored layout read field by field into record, as the parser must: what
// was read before a failure stays, what was not stays as it was.
class LayoutReader {
public:
    explicit LayoutReader(std::span<const std::byte> bytes) noexcept : bytes_(bytes) {}
    template <class T>
    bool Read(T& value) noexcept {
        if (bytes_.size() - at_ < sizeof(T)) return false;
        std::memcpy(&value, bytes_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return true;
    }
    bool Text(std::int32_t bytes, CodeUnit* field) noexcept {
        if (bytes_.size() - at_ < static_cast<std::size_t>(bytes)) return false;
        if (bytes) std::memcpy(field, bytes_.data() + at_, static_cast<std::size_t>(bytes));
        at_ += static_cast<std::size_t>(bytes);
        return true;
    }

private:
    std::span<const std::byte> bytes_;
    std::size_t at_ = 0;
};

bool ReadLayout(std::span<const std::byte> bytes, ItemObject& record) {
    LayoutReader in(bytes);
    std::int32_t version = 0, nameBytes = 0, pathBytes = 0;
    if (!in.Read(version)) return false;
    if (version < 1) return true;
    if (!in.Read(nameBytes) || !in.Read(pathBytes) || !in.Read(record.ref1) || !in.Read(record.ref2) ||
        !in.Read(record.ref3) || !in.Read(record.ref4) || !in.Read(record.linkType) || !in.Read(record.timestamp)) {
        return false;
    }
    // A name of up to 260 code units, a path of up to 520.
    if (nameBytes < 0 || nameBytes > 520 || pathBytes < 0 || pathBytes > 1040) return false;
    std::memset(record.name, 0, sizeof(record.name));
    std::memset(record.path, 0, sizeof(record.path));
    return in.Text(nameBytes, record.name) && in.Text(pathBytes, record.path) && in.Read(record.timestampKind) &&
           in.Read(record.itemType) && in.Read(record.state) && in.Read(record.aux1) && in.Read(record.aux2);
}

void Fill(ItemObject& record) {
    for (std::int32_t* field : {&record.itemType, &record.state, &record.aux1, &record.aux2, &record.ref1, &record.ref2,
                                &record.ref3, &record.ref4, &record.linkType, &record.timestampKind}) {
        *field = 0x5EED5EED;
    }
    record.timestamp = 1234.5;
    std::fill(std::begin(record.name), std::end(record.name), CodeUnit('Z'));
    std::fill(std::begin(record.path), std::end(record.path), CodeUnit('Z'));
}

bool Same(const ItemObject& a, const ItemObject& b) {
    return a.itemType == b.itemType && a.state == b.state && a.aux1 == b.aux1 && a.aux2 == b.aux2 &&
           a.ref1 == b.ref1 && a.ref2 == b.ref2 && a.ref3 == b.ref3 && a.ref4 == b.ref4 && a.linkType == b.linkType &&
           std::memcmp(&a.timestamp, &b.timestamp, sizeof(double)) == 0 && a.timestampKind == b.timestampKind &&
           std::memcmp(a.name, b.name, sizeof(a.name)) == 0 && std::memcmp(a.path, b.path, sizeof(a.path)) == 0;
}

// The record at the start of bytes into an ItemObject: against the layout from
// filled fields, and from a new object, whose texts must end whatever happens.
void CheckItemObject(std::span<const std::byte> bytes) {
    ChildWithLink parsed, expected;
    Fill(parsed);
    Fill(expected);
    RecordCursor cursor(bytes);
    const bool ok = !IsFailure(ParseRecord(cursor, parsed));
    FUZZ_CHECK(ok == ReadLayout(bytes, expected));
    FUZZ_CHECK(Same(parsed, expected));

    ItemObject fresh;
    RecordCursor again(bytes);
    ParseRecord(again, fresh);
    FUZZ_CHECK(fresh.name[ItemObject::kNameChars] == 0 && fresh.path[ItemObject::kPathChars] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kControlBytes) return 0;
    const std::size_t pieceBytes = 1 + data[0] * 7;
    const OwnedBytes stream({data + kControlBytes, size - kControlBytes});
    const std::span<const std::byte> bytes = stream.View();
    const std::size_t end = data[1] ? std::min<std::size_t>(bytes.size(), data[1] * 37) : bytes.size();
    const bool fails = data[2] & 1;

    RecordCursor whole(bytes);
    const Walk fromSpan = WalkList(whole, bytes);
    // Every record takes at least its version: the array sized by MostChildren holds them all.
    if (bytes.size() >= 8) {
        std::uint32_t count = 0;
        std::memcpy(&count, bytes.data() + 4, sizeof(count));
        FUZZ_CHECK(fromSpan.children.size() <= MostChildren(count, bytes.size()));
    }

    // The piecewise read sees the bytes that arrived before the stream stopped.
    PieceCursor<ByteSource> pieces(ByteSource(bytes.first(end), fails), bytes.size(), pieceBytes);
    const Walk fromPieces = WalkList(pieces, {});
    RecordCursor arrived(bytes.first(end));
    const Walk fromArrived = end == bytes.size() ? fromSpan : WalkList(arrived, bytes);
    FUZZ_CHECK(fromPieces.result == fromArrived.result);
    FUZZ_CHECK(fromPieces.children == fromArrived.children);

    CheckItemObject(bytes);
    for (const std::size_t offset : fromSpan.offsets) CheckItemObject(bytes.subspan(offset));
    return 0;
}

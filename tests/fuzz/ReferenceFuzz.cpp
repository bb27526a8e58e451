// The host's record array built from a children list: what the host receives
// is the shown children of the list, in stored order, each record made from
// the parser's own output and nothing past it; a failed build (damage, or any
// one allocation refused) hands out nothing and leaks nothing, and what a
// successful one hands out is everything it still holds.
//
// Input: byte 0 holds the filter (bit 0: SetOption(3)) and whether the list is
// read piece by piece (bit 1); bytes 1-2 which allocation fails (0: none);
// byte 3 the piece size; the rest is the children stream.
#include <algorithm>
#include <cstring>
#include <vector>

#include "cache/RecordParse.h"
#include "plugin/ReferenceArray.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/HostMemory.h"
#include "tests/support/ByteSource.h"

namespace {

constexpr std::size_t kControlBytes = 4;

// What the host must see of a list, read by the plain span walk.
struct Listing {
    ResultCode result = kSucceeded;
    std::size_t read = 0;  // children parsed, shown or not
    std::vector<RecordView> shown;
};

Listing ListShown(std::span<const std::byte> bytes, bool dropType3) {
    Listing listing;
    RecordCursor cursor(bytes);
    listing.result = ParseChildList(cursor, [&](RecordCursor& records) {
        RecordView child;
        const ResultCode parsed = ParseRecord(records, child);
        if (IsFailure(parsed)) return parsed;
        ++listing.read;
        // State 3 never reaches the host; type 3 not after SetOption(3).
        if (child.state != 3 && !(dropType3 && child.itemType == 3)) listing.shown.push_back(child);
        return parsed;
    });
    return listing;
}

void CheckText(const HostHeap& heap, const CodeUnit* text, std::span<const std::byte> stored) {
    FUZZ_CHECK(text != nullptr);
    const std::size_t length = StoredTextLength(stored);
    FUZZ_CHECK(heap.BlockBytes(text) == (length + 1) * sizeof(CodeUnit));
    // The stored text up to its first NUL, and no further.
    FUZZ_CHECK(text[length] == 0 && std::find(text, text + length, CodeUnit(0)) == text + length);
    FUZZ_CHECK(length == 0 || std::memcmp(text, stored.data(), std::min(2 * length, stored.size())) == 0);
}

std::int32_t LinkCode(std::int32_t linkType) { return linkType == 4 ? 4 : linkType == 6 ? 5 : 0; }
std::int32_t TypeCode(std::int32_t itemType) { return itemType == 1 ? 4 : itemType == 2 ? 5 : 1; }

void CheckRecords(const HostHeap& heap, const HostRecord* records, std::size_t count, const Listing& listing) {
    FUZZ_CHECK(count == listing.shown.size());
    FUZZ_CHECK(records != nullptr && heap.BlockBytes(records) >= count * sizeof(HostRecord));
    for (std::size_t i = 0; i < count; ++i) {
        const HostRecord& record = records[i];
        const RecordView& child = listing.shown[i];
        FUZZ_CHECK(record.numbersSize == sizeof(HostNumbers));
        FUZZ_CHECK(heap.BlockBytes(record.numbers) == sizeof(HostNumbers));
        FUZZ_CHECK(record.numbers->ref1 == child.ref1 && record.numbers->ref3 == child.ref3 &&
                   record.numbers->ref2 == child.ref2 && record.numbers->ref4 == child.ref4 &&
                   record.numbers->state == child.state);
        CheckText(heap, record.path, child.path);
        CheckText(heap, record.name, child.name);
        FUZZ_CHECK(record.linkCode == LinkCode(child.linkType) && record.typeCode == TypeCode(child.itemType));
        FUZZ_CHECK(record.one == 1 && record.reserved4 == 0 && record.reserved40 == 0 && record.reserved52 == 0 &&
                   record.reserved56 == 0);
    }
}

// As the navigator builds them: records and count change only on success.
template <class Cursor>
ResultCode Build(HostHeap& heap, Cursor& cursor, ReferenceFilter filter, HostRecord*& records, std::size_t& count,
                 std::size_t& heard) {
    try {
        ReferenceArray<HostMemory> array(HostMemory{&heap});
        const ResultCode listed = array.Read(cursor, filter, [&](const RecordView&, bool) { ++heard; });
        if (IsFailure(listed)) return listed;
        const std::size_t shown = array.Count();
        records = array.Release();
        count = shown;
        return kSucceeded;
    } catch (const std::bad_alloc&) {
        return static_cast<ResultCode>(0x8007000E);  // E_OUTOFMEMORY
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kControlBytes) return 0;
    ReferenceFilter filter;
    filter.dropType3 = data[0] & 1;
    const bool piecewise = data[0] & 2;
    const std::size_t failAt = data[1] | (data[2] << 8);
    const std::size_t pieceBytes = 1 + data[3] * 7;
    const OwnedBytes stream({data + kControlBytes, size - kControlBytes});
    const Listing listing = ListShown(stream.View(), filter.dropType3);

    HostHeap heap(failAt);
    HostRecord unset{};
    HostRecord* records = &unset;
    std::size_t count = 12345, heard = 0;
    ResultCode built;
    if (piecewise) {
        PieceCursor<ByteSource> cursor(ByteSource(stream.View()), stream.size, pieceBytes);
        built = Build(heap, cursor, filter, records, count, heard);
    } else {
        RecordCursor cursor(stream.View());
        built = Build(heap, cursor, filter, records, count, heard);
    }

    if (heap.Failed()) {
        // A refused allocation may come after the last one the build needs.
        FUZZ_CHECK(built == static_cast<ResultCode>(0x8007000E) || built == kSucceeded);
    } else {
        FUZZ_CHECK(built == listing.result);
        FUZZ_CHECK(heard <= listing.read);
    }
    if (built != kSucceeded) {
        FUZZ_CHECK(records == &unset && count == 12345);
        FUZZ_CHECK(heap.Held() == 0);
        return 0;
    }
    FUZZ_CHECK(heard == listing.read);
    CheckRecords(heap, records, count, listing);
    // Shrunk to the records shown, unless the shrinking was refused.
    FUZZ_CHECK(heap.Failed() || heap.BlockBytes(records) == count * sizeof(HostRecord));
    // The host frees what it received, and nothing else is left.
    FreeRecords(HostMemory{&heap}, records, count);
    FUZZ_CHECK(heap.Held() == 0);
    return 0;
}

// The benchmark's floor: its own parser of a children stream into the host's
// records, which the plug-in's answers are timed against.
#include <gtest/gtest.h>

#include <cstring>

#include "plugin/ReferenceRecord.h"
#include "tools/cachewriter/StoredRecord.h"
#include "tools/itembench/Floor.h"

namespace {

FloorBuffer BufferOf(const Bytes& bytes) {
    FloorBuffer buffer(static_cast<ULONG>(bytes.size()));
    std::memcpy(buffer.data.get(), bytes.data(), bytes.size());
    buffer.size = static_cast<ULONG>(bytes.size());
    return buffer;
}

StoredRecord Child(const wchar_t* name, std::int32_t state = 0) {
    StoredRecord child;
    child.name = name;
    child.path = std::wstring(L"C:\\Vault\\") + name;
    child.state = state;
    return child;
}

TEST(BenchFloor, HandsOutTheKeptChildrenAndNothingTheBytesDoNotHold) {
    long count = -1;
    ReferenceRecord* records = nullptr;
    ASSERT_EQ(BuildRecords(BufferOf(ChildrenStream({Child(L"a.prt"), Child(L"gone.prt", 3), Child(L"b.drw")})), &count,
                           &records),
              S_OK);
    ASSERT_EQ(count, 2) << "a child in state 3 is left out";
    EXPECT_STREQ(records[0].name, L"a.prt");
    EXPECT_STREQ(records[1].path, L"C:\\Vault\\b.drw");
    FreeReferenceRecords(records, count);

    // Counts larger than the records the bytes hold (the array is sized by the
    // bytes, so the parse must stop before the slot after the last record).
    Bytes shortRecords = ChildrenStream({}, 3);
    for (int i = 0; i < 2; ++i) shortRecords.insert(shortRecords.end(), {0, 0, 0, 0});  // version 0: no fields
    for (const Bytes& bytes : {ChildrenStream({}, 1), shortRecords, ChildrenStream({Child(L"a.prt")}, 2)}) {
        records = nullptr;
        count = -1;
        EXPECT_EQ(BuildRecords(BufferOf(bytes), &count, &records), E_FAIL);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(records, nullptr);
        EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr)) << "nothing written past the array";
    }
}

}  // namespace

#pragma once
// What any reader of the item cache must do, as the floor the plug-in's answers
// are measured against: the raw platform read of one record stream, and the
// host's records built from its bytes with the fewest allocations the host's
// interface allows (the array, one numbers block and two BSTRs per child).
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PlxHostInterfaces.h"

// The stream's bytes as one Read left them (its own type: the plug-in's StreamBytes reads in blocks).
struct RawStreamBytes {
    std::unique_ptr<std::uint8_t[]> data;
    ULONG size = 0;
};

// Under the cache mutex: open the compound file (read/write, exclusive), the
// storages along the names, the stream, and read it whole in one Read.
HRESULT RawRead(const std::wstring& file, const std::vector<std::wstring>& elements, RawStreamBytes& out);

// Parses a children stream into host records: children whose state is 3 are
// left out, the codes mapped as the host expects. On malformed bytes nothing is
// handed out.
HRESULT BuildRecords(const RawStreamBytes& bytes, long* count, ReferenceRecord** records);

#pragma once
// What any reader of the item cache must do, as the floor the plug-in's answers
// are measured against: the raw platform read of one record stream, without a
// lookup, a check or a cache, into a buffer allocated once. The host's records
// are then built from its bytes by the plug-in's own parse, which makes the
// fewest allocations the host's interface allows (the array, shrunk once, one
// numbers block and two BSTRs per child).
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PlxHostInterfaces.h"

// A stream's bytes in a buffer that the caller allocates once, outside any
// timing: the floor spends nothing on memory a reader could keep.
struct FloorBuffer {
    explicit FloorBuffer(ULONG bytes) : data(new std::uint8_t[bytes ? bytes : 1]), capacity(bytes) {}
    std::unique_ptr<std::uint8_t[]> data;
    ULONG capacity = 0;
    ULONG size = 0;
};

// Under the cache mutex: open the compound file (read/write, exclusive), the
// storages along the names, the stream, and read it whole in one Read. A
// stream larger than the buffer fails.
HRESULT RawRead(const std::wstring& file, const std::vector<std::wstring>& elements, FloorBuffer& out);

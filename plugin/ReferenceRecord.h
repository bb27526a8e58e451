#pragma once
// The record the navigator hands the host for each reference. Its layout is the
// host's contract and is checked here at compile time.
#include <cstddef>

#include "PlxHostInterfaces.h"
#include "common/CodeUnit.h"

static_assert(sizeof(ReferenceNumbers) == 20);
static_assert(offsetof(ReferenceNumbers, ref1) == 0 && offsetof(ReferenceNumbers, ref3) == 4 &&
              offsetof(ReferenceNumbers, ref2) == 8 && offsetof(ReferenceNumbers, ref4) == 12 &&
              offsetof(ReferenceNumbers, state) == 16);

static_assert(sizeof(ReferenceRecord) == 64);
static_assert(offsetof(ReferenceRecord, numbersSize) == 0);
static_assert(offsetof(ReferenceRecord, numbers) == 8);
static_assert(offsetof(ReferenceRecord, path) == 16);
static_assert(offsetof(ReferenceRecord, name) == 24);
static_assert(offsetof(ReferenceRecord, linkCode) == 32);
static_assert(offsetof(ReferenceRecord, one) == 36);
static_assert(offsetof(ReferenceRecord, typeCode) == 48);

// What the host frees the records with: the task allocator and BSTRs.
struct TaskMemory {
    using Record = ReferenceRecord;
    void* Alloc(std::size_t bytes) const noexcept { return CoTaskMemAlloc(bytes); }
    void* Realloc(void* block, std::size_t bytes) const noexcept { return CoTaskMemRealloc(block, bytes); }
    void Free(void* block) const noexcept { CoTaskMemFree(block); }
    CodeUnit* AllocText(std::size_t length) const noexcept {
        return SysAllocStringLen(nullptr, static_cast<UINT>(length));
    }
    void FreeText(CodeUnit* text) const noexcept { SysFreeString(text); }
};

// Frees an array of count records as the host does: each record's BSTRs and
// numbers block, then the array.
void FreeReferenceRecords(ReferenceRecord* records, long count) noexcept;

#pragma once
// The record the navigator hands the host for each reference. Its layout is the
// host's contract and is checked here at compile time.
#include <cstddef>

#include "PlxHostInterfaces.h"

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

// Frees an array of count records as the host does: each record's BSTRs and
// numbers block, then the array.
void FreeReferenceRecords(ReferenceRecord* records, long count) noexcept;

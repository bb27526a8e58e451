#pragma once
// The host's record array for an item's children, built straight from the bytes
// of its children stream.
#include <span>

#include "cache/RecordReader.h"
#include "plugin/ReferenceArray.h"
#include "plugin/ReferenceRecord.h"

// Children whose state is 3 never reach the host. S_OK with the array and its
// count (a zero-length block when no child is shown); ITEM_E_CACHEREAD when the
// list is damaged; E_OUTOFMEMORY with nothing allocated. records and count
// change only on success.
HRESULT BuildReferenceRecords(std::span<const std::byte> childrenStream, ReferenceFilter filter,
                              ReferenceRecord** records, LONG* count);
// The same from a stream read piece by piece as it is parsed.
HRESULT BuildReferenceRecords(StreamCursor& childrenStream, ReferenceFilter filter, ReferenceRecord** records,
                              LONG* count);

// What the host is told of its references when opening the children stream
// gave opened and building them gave built: a list that is missing or
// unreadable is no error for the host, it simply has no references.
inline HRESULT ReferencesAnswer(HRESULT opened, HRESULT built) noexcept {
    return FAILED(opened) || built == ITEM_E_CACHEREAD ? S_OK : built;
}

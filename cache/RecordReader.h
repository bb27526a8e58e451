#pragma once
// Readers of the stored item record and children list.
#include <objbase.h>

#include <vector>

#include "cache/ItemObject.h"
#include "cache/RefPtr.h"

// Reads one item record into item. S_OK, or 0x80040228 when the stream ends
// early, a read fails or a text's byte count does not fit its field.
HRESULT ReadRecord(IStream* stream, ItemObject& item);

// Reads a children stream, appending each child in stored order. The stored
// count never sizes an allocation: reading stops at the first incomplete record.
HRESULT ReadChildList(IStream* stream, std::vector<RefPtr<ChildWithLink>>& children);

#pragma once
// Element keys of an item in the cache, formed from its file name.
#include "common/CString.h"

// Escapes the reserved characters (/ % * : | ! LF CR TAB ? ") as %NN, NN being
// the character's position in that list.
CString EncodeName(const CString& text);

// The key of the item's record stream and of its children stream. The file name
// loses its 7-character extension (".<item>") before the suffix is added.
CString ItemKey(const CString& fileName);
CString ChildrenKey(const CString& fileName);

#pragma once
// Element keys of an item in the cache, formed from its file name.
#include "common/CodeUnit.h"

// Escapes the reserved characters (/ % * : | ! LF CR TAB ? ") as %NN, NN being
// the character's position in that list.
UnitString EncodeName(UnitView text);

// The item extension every item file name ends in.
inline constexpr wchar_t kItemExtension[] = L".<item>";
// The key of the stream every cache file holds at its root (the plug-in never reads it).
inline constexpr wchar_t kHeaderKey[] = L"headerstream";

// The inverse of EncodeName, for showing keys to people: each %NN of the
// reserved list turns back into its character. False when key is no text that
// EncodeName gives (an escape outside the list, a bare reserved character);
// text then holds the key with the escapes that could be read turned back.
bool DecodeName(UnitView key, UnitString& text);

enum class KeyKind { Item, Children, Other };

// What an element key stands for: an item key ("...I") or a children key
// ("...C") of the item whose file name is name + ".<item>", or neither (the
// header's key, or a key this cache never forms). wellFormed is false when the
// text before the suffix is no encoding EncodeName gives; such a key is one the
// plug-in can never ask for.
struct DecodedKey {
    KeyKind kind = KeyKind::Other;
    UnitString name;  // the decoded text before the suffix
    bool wellFormed = false;
};
DecodedKey DecodeKey(UnitView key);

// The key of the item's record stream and of its children stream. The file name
// loses its 7-character extension (".<item>") before the suffix is added.
UnitString ItemKey(UnitView fileName);
UnitString ChildrenKey(UnitView fileName);

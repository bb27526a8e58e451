// Element keys: a name encodes to a key that decodes back to it, a key decodes
// to a name that encodes back to it exactly when the key is one the plug-in
// forms, and every key of an item splits into element names a compound file
// holds (at most 31 code units, none of / \ : !) that join back to the key,
// and element names join to a key only when it splits back into them.
//
// Input: any code units (UTF-16LE).
#include <algorithm>

#include "cache/ItemKeys.h"
#include "cache/KeySplit.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

constexpr std::size_t kElementNameUnits = 31;  // a compound file's limit, without the NUL

bool HoldsAny(UnitView text, std::u16string_view units) {
    return std::any_of(text.begin(), text.end(), [&](CodeUnit c) { return units.find(c) != units.npos; });
}

void CheckSplit(UnitView key, bool fromFileName) {
    std::vector<UnitString> storages;
    UnitString stream = u"untouched";
    SplitKey(key, storages, stream);
    for (const UnitString& storage : storages) {
        FUZZ_CHECK(storage.size() == kStorageNameUnits + 1 && storage.back() == u'F');
    }
    FUZZ_CHECK(!stream.empty() && stream.size() <= kElementNameUnits && stream.back() == u'S');
    FUZZ_CHECK(key.empty() || stream.size() >= 2);
    UnitString joined = u"untouched";
    FUZZ_CHECK(JoinKey(storages, stream, joined) && joined == key);
    if (fromFileName) {
        // A file name comes from the last component of an item path: no
        // backslash and no NUL, and the key escapes the other three.
        for (const UnitString& storage : storages) FUZZ_CHECK(!HoldsAny(storage, std::u16string_view(u"/\\:!\0", 5)));
        FUZZ_CHECK(!HoldsAny(stream, std::u16string_view(u"/\\:!\0", 5)));
    }
}

// Element names join to a key only when that key splits back into them.
void CheckJoin(UnitView text) {
    std::vector<UnitString> storages;
    UnitView stream = text;
    if (text.size() > kElementNameUnits) {
        storages.emplace_back(text.substr(0, kElementNameUnits));
        stream = text.substr(kElementNameUnits);
    }
    UnitString key;
    if (!JoinKey(storages, stream, key)) return;
    std::vector<UnitString> splitStorages;
    UnitString splitStream;
    SplitKey(key, splitStorages, splitStream);
    FUZZ_CHECK(splitStorages == storages && splitStream == stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const UnitString text = UnitsOf({data, size});

    // A name survives its encoding, which leaves no reserved character bare.
    const UnitString encoded = EncodeName(text);
    FUZZ_CHECK(!HoldsAny(encoded, u"/*:|!\n\r\t?\""));
    UnitString decoded = u"untouched";
    FUZZ_CHECK(DecodeName(encoded, decoded));
    FUZZ_CHECK(decoded == text);

    // Any text read as a key: well formed exactly when encoding gives it back.
    UnitString name;
    const bool wellFormed = DecodeName(text, name);
    FUZZ_CHECK(wellFormed == (EncodeName(name) == text));
    const DecodedKey key = DecodeKey(text);
    if (!text.empty() && (text.back() == u'I' || text.back() == u'C')) {
        FUZZ_CHECK(key.kind == (text.back() == u'I' ? KeyKind::Item : KeyKind::Children));
        FUZZ_CHECK(EncodeName(key.name) + text.back() == text || !key.wellFormed);
    } else {
        FUZZ_CHECK(key.kind == KeyKind::Other);
    }
    CheckSplit(text, false);
    CheckJoin(text);

    // The keys of the item whose file name is the text and ".<item>".
    UnitString fileName = text;
    std::replace(fileName.begin(), fileName.end(), u'\\', u'_');
    std::replace(fileName.begin(), fileName.end(), u'\0', u'_');
    const UnitString baseName = fileName;
    fileName += u".<item>";
    for (const auto& [formed, kind] : {std::pair{ItemKey(fileName), KeyKind::Item},
                                       std::pair{ChildrenKey(fileName), KeyKind::Children}}) {
        const DecodedKey back = DecodeKey(formed);
        FUZZ_CHECK(back.kind == kind && back.wellFormed && back.name == baseName);
        CheckSplit(formed, true);
    }
    return 0;
}

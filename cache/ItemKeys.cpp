#include "cache/ItemKeys.h"

#include <iterator>

namespace {

constexpr UnitText kReservedText("/%*:|!\n\r\t?\"");
constexpr UnitView kReserved = kReservedText.View();
constexpr size_t kExtensionLength = std::size(kItemExtension) - 1;

UnitString FormKey(UnitView fileName, CodeUnit suffix) {
    UnitString key(fileName.size() > kExtensionLength ? fileName.substr(0, fileName.size() - kExtensionLength)
                                                      : UnitView());
    key += suffix;
    return EncodeName(key);
}

}  // namespace

UnitString EncodeName(UnitView text) {
    if (text.find_first_of(kReserved) == UnitView::npos) return UnitString(text);
    UnitString encoded;
    encoded.reserve(text.size() + 16);
    for (CodeUnit c : text) {
        const size_t position = kReserved.find(c);
        if (position == UnitView::npos) {
            encoded += c;
        } else {
            encoded += CodeUnit('%');
            encoded += static_cast<CodeUnit>('0' + position / 10);
            encoded += static_cast<CodeUnit>('0' + position % 10);
        }
    }
    return encoded;
}

UnitString ItemKey(UnitView fileName) { return FormKey(fileName, 'I'); }
UnitString ChildrenKey(UnitView fileName) { return FormKey(fileName, 'C'); }

bool DecodeName(UnitView key, UnitString& text) {
    text.clear();
    text.reserve(key.size());
    bool wellFormed = true;
    for (size_t i = 0; i < key.size(); ++i) {
        const CodeUnit c = key[i];
        if (c != '%') {
            // EncodeName leaves no reserved character bare.
            if (kReserved.find(c) != UnitView::npos) wellFormed = false;
            text += c;
            continue;
        }
        const bool digits = i + 2 < key.size() && key[i + 1] >= '0' && key[i + 1] <= '9' && key[i + 2] >= '0' &&
                            key[i + 2] <= '9';
        const size_t position = digits ? static_cast<size_t>((key[i + 1] - '0') * 10 + (key[i + 2] - '0')) : kReserved.size();
        if (position >= kReserved.size()) {
            wellFormed = false;
            text += c;
            continue;
        }
        text += kReserved[position];
        i += 2;
    }
    return wellFormed;
}

DecodedKey DecodeKey(UnitView key) {
    DecodedKey decoded;
    if (key.empty()) return decoded;
    const CodeUnit suffix = key.back();
    if (suffix != 'I' && suffix != 'C') return decoded;
    decoded.kind = suffix == 'I' ? KeyKind::Item : KeyKind::Children;
    decoded.wellFormed = DecodeName(key.substr(0, key.size() - 1), decoded.name);
    return decoded;
}

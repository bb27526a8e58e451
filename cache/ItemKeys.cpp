#include "cache/ItemKeys.h"

#include <iterator>
#include <string_view>

namespace {

constexpr std::wstring_view kReserved = L"/%*:|!\n\r\t?\"";
constexpr size_t kExtensionLength = std::size(kItemExtension) - 1;

CString FormKey(const CString& fileName, wchar_t suffix) {
    CString key = fileName.size() > kExtensionLength ? fileName.substr(0, fileName.size() - kExtensionLength) : CString();
    key += suffix;
    return EncodeName(key);
}

}  // namespace

CString EncodeName(const CString& text) {
    if (text.find_first_of(kReserved.data(), 0, kReserved.size()) == CString::npos) return text;
    CString encoded;
    encoded.reserve(text.size() + 16);
    for (wchar_t c : text) {
        const size_t position = kReserved.find(c);
        if (position == std::wstring_view::npos) {
            encoded += c;
        } else {
            encoded += L'%';
            encoded += static_cast<wchar_t>(L'0' + position / 10);
            encoded += static_cast<wchar_t>(L'0' + position % 10);
        }
    }
    return encoded;
}

CString ItemKey(const CString& fileName) { return FormKey(fileName, L'I'); }
CString ChildrenKey(const CString& fileName) { return FormKey(fileName, L'C'); }

bool DecodeName(const CString& key, CString& text) {
    text.clear();
    text.reserve(key.size());
    bool wellFormed = true;
    for (size_t i = 0; i < key.size(); ++i) {
        const wchar_t c = key[i];
        if (c != L'%') {
            // EncodeName leaves no reserved character bare.
            if (kReserved.find(c) != std::wstring_view::npos) wellFormed = false;
            text += c;
            continue;
        }
        const bool digits = i + 2 < key.size() && key[i + 1] >= L'0' && key[i + 1] <= L'9' && key[i + 2] >= L'0' &&
                            key[i + 2] <= L'9';
        const size_t position = digits ? static_cast<size_t>((key[i + 1] - L'0') * 10 + (key[i + 2] - L'0')) : kReserved.size();
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

DecodedKey DecodeKey(const CString& key) {
    DecodedKey decoded;
    if (key.empty()) return decoded;
    const wchar_t suffix = key.back();
    if (suffix != L'I' && suffix != L'C') return decoded;
    decoded.kind = suffix == L'I' ? KeyKind::Item : KeyKind::Children;
    decoded.wellFormed = DecodeName(key.substr(0, key.size() - 1), decoded.name);
    return decoded;
}

#include "cache/ItemKeys.h"

#include <string_view>

namespace {

constexpr std::wstring_view kReserved = L"/%*:|!\n\r\t?\"";
constexpr size_t kExtensionLength = 7;

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

#include "tools/common/Json.h"

#include <cmath>

#include "tools/common/ResultText.h"

std::string Utf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Json Number(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json ResultObject(HRESULT hr, const char* codeMember) {
    Json result = Json::object();
    result[codeMember] = Utf8(HexResult(hr));
    result["meaning"] = Utf8(ResultMeaning(hr));
    return result;
}

std::wstring JsonText(const Json& document) {
    const std::string utf8 = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(units > 0 ? units : 0, L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), units);
    return text;
}

Json& JsonWriter::Add(const wchar_t* name, Json value) {
    if (open_.empty()) {
        root_ = std::move(value);
        return root_;
    }
    Json& parent = *open_.back();
    if (parent.is_array()) {
        parent.push_back(std::move(value));
        return parent.back();
    }
    Json& member = parent[Utf8(name ? name : L"")];
    member = std::move(value);
    return member;
}

JsonWriter& JsonWriter::Put(const wchar_t* name, Json value) {
    Add(name, std::move(value));
    return *this;
}

JsonWriter& JsonWriter::BeginObject(const wchar_t* name) {
    open_.push_back(&Add(name, Json::object()));
    return *this;
}

JsonWriter& JsonWriter::BeginArray(const wchar_t* name) {
    open_.push_back(&Add(name, Json::array()));
    return *this;
}

JsonWriter& JsonWriter::End() {
    open_.pop_back();
    return *this;
}

#include "tools/itemhost/Json.h"

#include <cwchar>

std::wstring JsonString(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        switch (c) {
            case L'"': out += L"\\\""; break;
            case L'\\': out += L"\\\\"; break;
            case L'\n': out += L"\\n"; break;
            case L'\r': out += L"\\r"; break;
            case L'\t': out += L"\\t"; break;
            default:
                if (c < 0x20) {
                    wchar_t escape[8];
                    swprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + L"\"";
}

void JsonWriter::Next(const wchar_t* name) {
    if (!first_.empty()) {
        out_ += first_.back() ? L"\n" : L",\n";
        first_.back() = false;
        out_.append(2 * first_.size(), L' ');
    }
    if (name) out_ += JsonString(name) + L": ";
}

JsonWriter& JsonWriter::Field(const wchar_t* name, const std::wstring& text) {
    Next(name);
    out_ += JsonString(text);
    return *this;
}

JsonWriter& JsonWriter::Field(const wchar_t* name, bool value) {
    Next(name);
    out_ += value ? L"true" : L"false";
    return *this;
}

JsonWriter& JsonWriter::Field(const wchar_t* name, long long value) {
    Next(name);
    out_ += std::to_wstring(value);
    return *this;
}

JsonWriter& JsonWriter::Field(const wchar_t* name, double value) {
    Next(name);
    wchar_t text[40];
    swprintf(text, 40, L"%.17g", value);
    out_ += text;
    return *this;
}

JsonWriter& JsonWriter::Null(const wchar_t* name) {
    Next(name);
    out_ += L"null";
    return *this;
}

JsonWriter& JsonWriter::Element(const std::wstring& text) { return Field(nullptr, text); }

JsonWriter& JsonWriter::BeginObject(const wchar_t* name) {
    Next(name);
    out_ += L'{';
    first_.push_back(true);
    closers_.push_back(L'}');
    return *this;
}

JsonWriter& JsonWriter::BeginArray(const wchar_t* name) {
    Next(name);
    out_ += L'[';
    first_.push_back(true);
    closers_.push_back(L']');
    return *this;
}

JsonWriter& JsonWriter::End() {
    const bool empty = first_.back();
    first_.pop_back();
    if (!empty) {
        out_ += L'\n';
        out_.append(2 * first_.size(), L' ');
    }
    out_ += closers_.back();
    closers_.pop_back();
    if (first_.empty()) out_ += L'\n';
    return *this;
}

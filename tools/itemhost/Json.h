#pragma once
// A small JSON writer for the tool's reports: objects and arrays nested as
// they are opened, commas and indentation placed by the writer.
#include <string>
#include <vector>

// A JSON string literal, quotes included.
std::wstring JsonString(const std::wstring& text);

class JsonWriter {
public:
    // Members of the innermost object: name, then a value.
    JsonWriter& Field(const wchar_t* name, const std::wstring& text);
    JsonWriter& Field(const wchar_t* name, const wchar_t* text) { return Field(name, std::wstring(text)); }
    JsonWriter& Field(const wchar_t* name, bool value);
    JsonWriter& Field(const wchar_t* name, long long value);
    JsonWriter& Field(const wchar_t* name, int value) { return Field(name, static_cast<long long>(value)); }
    JsonWriter& Field(const wchar_t* name, unsigned long value) { return Field(name, static_cast<long long>(value)); }
    JsonWriter& Field(const wchar_t* name, double value);
    JsonWriter& Null(const wchar_t* name);
    // An element of the innermost array.
    JsonWriter& Element(const std::wstring& text);

    // Opens an object or array as a member (name) or as an array element (no name).
    JsonWriter& BeginObject(const wchar_t* name = nullptr);
    JsonWriter& BeginArray(const wchar_t* name = nullptr);
    JsonWriter& End();

    const std::wstring& Text() const { return out_; }

private:
    void Next(const wchar_t* name);
    std::wstring out_;
    std::vector<bool> first_;  // per open level: no member written yet
    std::vector<wchar_t> closers_;
};

#pragma once
// JSON output of the tools, written by nlohmann/json: texts go out as UTF-8 (a
// lone surrogate as U+FFFD), numbers that are not finite as null, members in
// the order they were set.
#include <windows.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/Utf8.h"

using Json = nlohmann::ordered_json;

// A finite number as itself, NaN and the infinities as null.
Json Number(double value);
// {"<codeMember>": "0x80040213", "meaning": "the item is not in the cache"}
Json ResultObject(HRESULT hr, const char* codeMember = "code");
// The document pretty-printed (two spaces) as UTF-8, ending in a newline.
std::string JsonText(const Json& document);
// A text member as the tools read it back for their text views.
std::wstring Text(const Json& member);

// Builds a document member by member, objects and arrays nested as they are
// opened, for reports that are written step by step.
class JsonWriter {
public:
    JsonWriter& Field(const wchar_t* name, const std::wstring& text) { return Put(name, Utf8(text)); }
    JsonWriter& Field(const wchar_t* name, const wchar_t* text) { return Field(name, std::wstring(text)); }
    JsonWriter& Field(const wchar_t* name, bool value) { return Put(name, value); }
    JsonWriter& Field(const wchar_t* name, long long value) { return Put(name, value); }
    JsonWriter& Field(const wchar_t* name, int value) { return Put(name, static_cast<long long>(value)); }
    JsonWriter& Field(const wchar_t* name, unsigned long value) { return Put(name, static_cast<long long>(value)); }
    JsonWriter& Field(const wchar_t* name, double value) { return Put(name, Number(value)); }
    JsonWriter& Null(const wchar_t* name) { return Put(name, nullptr); }
    // An element of the innermost array.
    JsonWriter& Element(const std::wstring& text) { return Field(nullptr, text); }

    // Opens an object or array as a member (name) or as an array element (no name).
    JsonWriter& BeginObject(const wchar_t* name = nullptr);
    JsonWriter& BeginArray(const wchar_t* name = nullptr);
    JsonWriter& End();

    std::string Text() const { return JsonText(root_); }

private:
    JsonWriter& Put(const wchar_t* name, Json value);
    Json& Add(const wchar_t* name, Json value);

    Json root_;
    std::vector<Json*> open_;  // innermost last; only the innermost one grows
};

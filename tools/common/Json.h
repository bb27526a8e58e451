#pragma once
// JSON output of the tools, written by nlohmann/json: texts go out as UTF-8 (a
// lone surrogate as U+FFFD), numbers that are not finite as null, members in
// the order they were set.
#include <windows.h>

#include <string>

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

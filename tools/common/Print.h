#pragma once
#include <cstdio>
#include <string_view>

// Writes text to stream as UTF-8 and flushes it.
void Print(std::string_view utf8, FILE* stream = stdout);
void Print(std::wstring_view text, FILE* stream = stdout);

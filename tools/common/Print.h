#pragma once
#include <cstdio>
#include <string>

// Writes text to stream as UTF-8 and flushes it.
void Print(const std::wstring& text, FILE* stream = stdout);

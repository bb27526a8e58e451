#pragma once
// A whole file written at once, its folders created first.
#include <windows.h>

#include <cstddef>
#include <string>

// Creates or truncates path; throws when the file cannot be written whole.
void WriteFileBytes(const std::wstring& path, const void* data, std::size_t size,
                    DWORD attributes = FILE_ATTRIBUTE_NORMAL);

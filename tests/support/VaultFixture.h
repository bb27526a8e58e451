#pragma once
// Registered vault views for tests (written by the vault writer the benchmark
// and the sample vault share), and reading registry values back.
#include <windows.h>

#include <string>

#include "tools/cachewriter/VaultWriter.h"

// Reads a string value back; false when it is missing.
bool GetRegistryString(HKEY root, const std::wstring& path, const wchar_t* valueName, std::wstring& out,
                       REGSAM view = 0);

GUID GuidFromString(const wchar_t* text);

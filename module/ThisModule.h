#pragma once
// The module this code is linked into: the DLL, or a test program that links
// the module code directly.
#include <windows.h>

#include "common/CString.h"

HMODULE ThisModule() noexcept;
// Its full path: the last system error when unavailable, 0x8007007A when it does
// not fit in MAX_PATH characters.
HRESULT GetThisModulePath(CString& path) noexcept;

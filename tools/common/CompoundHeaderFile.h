#pragma once
// The fixed part of a compound file's header, read from the file with a plain
// read beside the structured storage: it tells what a file is even when the
// storage cannot open it.
#include <windows.h>

#include "cache/CompoundHeader.h"
#include "common/CString.h"

struct CompoundHeader : CompoundHeaderFields {
    // S_OK when all kBytes arrived; the Win32 error of opening or reading the
    // file; HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) when the file is shorter.
    HRESULT result = E_FAIL;
    DWORD bytesRead = 0;
};

// Reads the header of the file at path; opens it for reading only, shared.
CompoundHeader ReadCompoundHeader(const CString& path) noexcept;

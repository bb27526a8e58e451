#include "common/Environment.h"

#include <windows.h>

#include <vector>

bool ReadEnvironmentVariable(const wchar_t* name, CString& out) {
    // The variable may change between the calls: ask again until it fits.
    std::vector<wchar_t> buffer(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            out.clear();  // set, but empty
            return true;
        }
        if (length < buffer.size()) {
            out.assign(buffer.data(), length);
            return true;
        }
        buffer.assign(length, L'\0');
    }
}

#include "common/Environment.h"

#include <windows.h>

#include <vector>

bool ReadEnvironmentVariable(const wchar_t* name, CString& out) {
    // The variable may change between the two calls: ask again until it fits.
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    while (needed != 0) {
        std::vector<wchar_t> buffer(needed, L'\0');
        const DWORD length = GetEnvironmentVariableW(name, buffer.data(), needed);
        if (length == 0) break;
        if (length < needed) {
            out.assign(buffer.data(), length);
            return true;
        }
        needed = length;
    }
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    out.clear();  // set, but empty
    return true;
}

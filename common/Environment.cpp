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

bool ExpandEnvironmentText(const CString& text, CString& out) {
    std::vector<wchar_t> expanded(text.size() + 1 > 256 ? text.size() + 1 : 256, L'\0');
    // The environment may change between the calls: ask again until it fits.
    for (;;) {
        const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
        if (needed == 0) return false;
        if (needed <= expanded.size()) {
            out.assign(expanded.data());
            return true;
        }
        expanded.assign(needed, L'\0');
    }
}

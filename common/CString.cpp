#include "common/CString.h"

#include <windows.h>

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() > 0x7fffffff || b.size() > 0x7fffffff) return false;
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

#pragma once
// CString: the wide string of all code. wchar_t is a UTF-16 code unit on every
// Windows compiler, so lengths are counted in code units.
#include <string>
#include <string_view>

using CString = std::wstring;

// A possibly null C string (a null BSTR included) as a CString.
inline CString StringOrEmpty(const wchar_t* text) { return text ? CString(text) : CString(); }

inline bool EndsWithBackslash(std::wstring_view text) { return !text.empty() && text.back() == L'\\'; }

inline void AppendBackslashIfMissing(CString& text) {
    if (!EndsWithBackslash(text)) text += L'\\';
}

// Case-insensitive comparison for ASCII codes such as language codes.
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

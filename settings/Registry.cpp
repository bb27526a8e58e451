#include "settings/Registry.h"

#include <vector>

#include "common/Environment.h"
#include "settings/AppKey.h"

LSTATUS Registry::TryOpen(HKEY parent, const wchar_t* subkey, REGSAM access) noexcept {
    Close();
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(parent, subkey, 0, access, &key);
    if (status == ERROR_SUCCESS) key_.Reset(key);
    return status;
}

bool Registry::Create(HKEY parent, const wchar_t* subkey, REGSAM access) noexcept {
    Close();
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    key_.Reset(key);
    return true;
}

bool Registry::QueryTypeAndSize(const wchar_t* valueName, DWORD& type, DWORD& size) noexcept {
    type = REG_NONE;
    size = 0;
    if (!key_) return false;
    return RegQueryValueExW(key_.Get(), valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

bool Registry::QueryString(const wchar_t* valueName, CString& out, DWORD& type, DWORD& size, CString* stored) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    if (!key_) return false;

    // Room for a terminator after the data, also when the data has none or an odd
    // byte count; the buffer is zeroed, so that terminator is already in place.
    std::vector<BYTE> buffer(static_cast<size_t>(size) + ((size & 1) ? 3 : 2), 0);
    DWORD returned = size;
    if (RegQueryValueExW(key_.Get(), valueName, nullptr, &type, buffer.data(), &returned) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;  // changed between the two steps
    size = returned;

    // Whole characters only, up to the first zero character.
    const auto* text = reinterpret_cast<const wchar_t*>(buffer.data());
    const size_t units = returned / sizeof(wchar_t);
    size_t length = 0;
    while (length < units && text[length] != L'\0') ++length;

    const CString unexpanded(text, length);
    if (stored) *stored = unexpanded;
    if (type == REG_SZ) {
        out = unexpanded;
        return true;
    }

    CString expanded;
    if (!ExpandEnvironmentText(unexpanded, expanded)) return false;
    size = static_cast<DWORD>(expanded.size() + 1);  // characters with the terminator, as the expansion counts them
    out = std::move(expanded);
    return true;
}

bool Registry::ReadString(const wchar_t* valueName, CString& out, DWORD* typeOut, CString* stored) {
    DWORD type = REG_NONE, size = 0;
    const bool present = QueryTypeAndSize(valueName, type, size);
    if (typeOut) *typeOut = type;
    if (!present) return false;
    return QueryString(valueName, out, type, size, stored);
}

bool Registry::WriteString(const wchar_t* valueName, const CString& value) noexcept {
    if (!key_) return false;
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key_.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
           ERROR_SUCCESS;
}

bool Registry::HasShellRoot() noexcept {
    if (!key_) return false;
    return RegQueryValueExW(key_.Get(), kShellRootValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

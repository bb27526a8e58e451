#pragma once
// Registry: one open registry key and the reads and writes made through it.
#include <windows.h>

#include "common/CString.h"
#include "common/UniqueResource.h"

class Registry {
public:
    Registry() noexcept = default;
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Closes the held key, then opens parent\subkey; never creates it.
    bool Open(HKEY parent, const wchar_t* subkey, REGSAM access) noexcept {
        return TryOpen(parent, subkey, access) == ERROR_SUCCESS;
    }
    // The same, answering the registry's status.
    LSTATUS TryOpen(HKEY parent, const wchar_t* subkey, REGSAM access) noexcept;
    // Creates or opens parent\subkey (non-volatile, default security).
    bool Create(HKEY parent, const wchar_t* subkey, REGSAM access) noexcept;
    void Close() noexcept { key_.Reset(); }

    // Second step of a string read: the type and byte size come from the first
    // step (QueryTypeAndSize). out changes only on success; stored, when given,
    // receives the text before environment references are expanded.
    bool QueryString(const wchar_t* valueName, CString& out, DWORD& type, DWORD& size, CString* stored = nullptr);
    // First step: the value's type and size in bytes; false when it is missing.
    bool QueryTypeAndSize(const wchar_t* valueName, DWORD& type, DWORD& size) noexcept;
    // Both steps: a REG_SZ or REG_EXPAND_SZ value; any other type counts as missing.
    bool ReadString(const wchar_t* valueName, CString& out, DWORD* type = nullptr, CString* stored = nullptr);
    // Writes a REG_SZ value including its terminating zero.
    bool WriteString(const wchar_t* valueName, const CString& value) noexcept;

    bool HasShellRoot() noexcept;

    HKEY Key() const noexcept { return key_.Get(); }
    bool IsOpen() const noexcept { return static_cast<bool>(key_); }

private:
    UniqueHKey key_;
};

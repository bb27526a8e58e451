#include "tests/support/VaultFixture.h"

#include <objbase.h>

#include <stdexcept>
#include <vector>

#include "common/UniqueResource.h"

bool GetRegistryString(HKEY root, const std::wstring& path, const wchar_t* valueName, std::wstring& out, REGSAM view) {
    UniqueHKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    std::vector<wchar_t> buffer(size / 2 + 1, L'\0');
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    out = buffer.data();
    return true;
}

GUID GuidFromString(const wchar_t* text) {
    GUID guid{};
    if (FAILED(CLSIDFromString(text, &guid))) throw std::runtime_error("bad GUID text");
    return guid;
}

#include "module/RegistrationGroup.h"

#include <climits>

#include "common/CString.h"
#include "common/Result.h"
#include "common/UniqueResource.h"

namespace {

using registration::Row;

bool IsKeyRow(const Row& row) { return row.valueName == nullptr; }

// A missing key or value is what removal wants anyway.
LONG IgnoreMissing(LONG status) { return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status; }

LONG OpenOrCreateKey(HKEY root, const wchar_t* path, UniqueHKey& key) {
    if (RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WRITE, key.Put()) == ERROR_SUCCESS) return ERROR_SUCCESS;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.Put()) == ERROR_SUCCESS) return ERROR_SUCCESS;
    return RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key.Put(),
                           nullptr);
}

HRESULT WriteRow(HKEY root, const Row& row, std::wstring_view modulePath) {
    if (IsKeyRow(row) && (row.marks & registration::kForceRemove) && !registration::IsProtectedKey(row.key)) {
        // Stale entries left below the key would survive registration unnoticed.
        RETURN_IF_WIN32_ERROR(IgnoreMissing(RegDeleteTreeW(root, row.key)));
    }
    UniqueHKey key;
    RETURN_IF_WIN32_ERROR(OpenOrCreateKey(root, row.key, key));
    if (!row.data) return S_OK;
    // The path goes in as it is: a quote in it is an ordinary character here.
    const std::wstring_view data = row.data == registration::kModulePath ? modulePath : std::wstring_view(row.data);
    const CString text(data);  // with the terminating null that REG_SZ data carries
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    RETURN_HR_IF(E_INVALIDARG, bytes > ULONG_MAX);
    RETURN_IF_WIN32_ERROR(RegSetValueExW(key.Get(), row.valueName, 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(bytes)));
    return S_OK;
}

HRESULT RemoveRow(HKEY root, const Row& row) {
    UniqueHKey key;
    const LONG opened = RegOpenKeyExW(root, row.key, 0, KEY_READ | KEY_WRITE, key.Put());
    if (opened == ERROR_FILE_NOT_FOUND) return S_OK;
    RETURN_IF_WIN32_ERROR(opened);
    if (!IsKeyRow(row)) {
        RETURN_IF_WIN32_ERROR(IgnoreMissing(RegDeleteValueW(key.Get(), row.valueName)));
        return S_OK;
    }
    if (row.marks & registration::kNoRemove) return S_OK;

    DWORD subkeys = 0;
    RETURN_IF_WIN32_ERROR(RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr));
    if (subkeys != 0) return S_OK;
    key.Reset();
    RETURN_IF_WIN32_ERROR(IgnoreMissing(RegDeleteKeyW(root, row.key)));
    return S_OK;
}

HRESULT RemoveGroup(HKEY root, std::span<const Row> rows) {
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) RETURN_IF_FAILED(RemoveRow(root, *row));
    return S_OK;
}

HRESULT WriteGroup(HKEY root, std::span<const Row> rows, std::wstring_view modulePath) {
    for (const Row& row : rows) {
        const HRESULT hr = WriteRow(root, row, modulePath);
        if (FAILED(hr)) {
            RemoveGroup(root, rows);
            return hr;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT ApplyRegistrationGroup(HKEY root, std::span<const Row> rows, bool registerMode,
                               std::wstring_view modulePath) noexcept try {
    return registerMode ? WriteGroup(root, rows, modulePath) : RemoveGroup(root, rows);
}
CATCH_RETURN()

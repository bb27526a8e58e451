#include "module/ThisModule.h"

#include "common/Result.h"

namespace {

// Its address tells GetModuleHandleExW which module this code was linked into.
const int kModuleAnchor = 0;

}  // namespace

HMODULE ThisModule() noexcept {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&kModuleAnchor), &module)) {
        return nullptr;
    }
    return module;
}

HRESULT GetThisModulePath(CString& path) noexcept try {
    const HMODULE module = ThisModule();
    // A null handle would name the process's executable instead.
    RETURN_LAST_ERROR_IF(!module);
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    RETURN_LAST_ERROR_IF(length == 0);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), length >= MAX_PATH);
    path.assign(buffer, length);
    return S_OK;
}
CATCH_RETURN()

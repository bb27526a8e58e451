#include "common/HResultError.h"

#include <new>

void ThrowHResult(HRESULT hr) { throw HResultError(hr); }

HRESULT ResultFromCaughtException() noexcept {
    try {
        throw;
    } catch (const HResultError& e) {
        return e.Code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT HResultFromLastError() noexcept {
    const DWORD err = GetLastError();
    return err == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(err);
}

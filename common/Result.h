#pragma once
// Early-return helpers for HRESULT code.
#include "common/HResultError.h"

#define RETURN_IF_FAILED(expr)                       \
    do {                                             \
        const HRESULT hrReturnIfFailed_ = (expr);    \
        if (FAILED(hrReturnIfFailed_)) return hrReturnIfFailed_; \
    } while (0)

#define RETURN_HR_IF(hr, condition) \
    do {                            \
        if (condition) return (hr); \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr)         \
    do {                                   \
        if ((ptr) == nullptr) return (hr); \
    } while (0)

// Ends a COM method body: no exception leaves through the interface.
#define CATCH_RETURN() \
    catch (...) { return ResultFromCaughtException(); }

// A Win32 error code (ERROR_SUCCESS passes) returned as its HRESULT.
#define RETURN_IF_WIN32_ERROR(expr)                                             \
    do {                                                                        \
        const LONG errReturnIfWin32_ = static_cast<LONG>(expr);                 \
        if (errReturnIfWin32_ != ERROR_SUCCESS)                                 \
            return HRESULT_FROM_WIN32(static_cast<unsigned long>(errReturnIfWin32_)); \
    } while (0)

// Returns the HRESULT of the thread's last error when condition holds.
#define RETURN_LAST_ERROR_IF(condition)                   \
    do {                                                  \
        if (condition) return HResultFromLastError();     \
    } while (0)

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

#pragma once
// IDispatch answered from a TypeInfoCache: the four methods of a dual interface
// forward here.
#include <windows.h>
#include <oaidl.h>

#include "common/Result.h"
#include "module/TypeInfoCache.h"

inline HRESULT DispatchGetTypeInfoCount(UINT* count) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 1;
    return S_OK;
}

// The type information with one reference added.
inline HRESULT DispatchGetTypeInfo(TypeInfoCache& cache, UINT index, LCID lcid, ITypeInfo** out) noexcept {
    RETURN_HR_IF(DISP_E_BADINDEX, index != 0);
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    ITypeInfo* info = nullptr;
    RETURN_IF_FAILED(cache.Get(lcid, &info));
    info->AddRef();
    *out = info;
    return S_OK;
}

// riid is reserved by the IDispatch contract and must be IID_NULL.
inline HRESULT DispatchGetIDsOfNames(TypeInfoCache& cache, REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                     DISPID* dispIds) noexcept {
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !IsEqualIID(riid, IID_NULL));
    ITypeInfo* info = nullptr;
    RETURN_IF_FAILED(cache.Get(lcid, &info));
    return info->GetIDsOfNames(names, count, dispIds);
}

// interfacePointer is the dual interface the type information describes.
inline HRESULT DispatchInvoke(TypeInfoCache& cache, void* interfacePointer, DISPID dispId, REFIID riid, LCID lcid,
                              WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                              UINT* argErr) noexcept {
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !IsEqualIID(riid, IID_NULL));
    ITypeInfo* info = nullptr;
    RETURN_IF_FAILED(cache.Get(lcid, &info));
    return info->Invoke(interfacePointer, dispId, flags, params, result, excepInfo, argErr);
}

#pragma once
// DispatchImpl: IDispatch answered from the type information of one interface
// (iid) in a registered type library (libid, version major.minor). Interface is
// either a dual interface or one that declares IDispatch's four methods after
// its own; this class implements those four in that order, so the vtable stays
// the interface's. Every object of one instantiation shares the information,
// loaded on first use and kept until the module shuts down.
#include <windows.h>
#include <oaidl.h>

#include "common/Result.h"
#include "module/TypeInfoCache.h"

template <class Interface, const GUID& libid, WORD major, WORD minor, const IID& iid>
class DispatchImpl : public Interface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        RETURN_HR_IF_NULL(E_POINTER, count);
        *count = 1;
        return S_OK;
    }

    // The type information with one reference added.
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) noexcept override {
        RETURN_HR_IF(DISP_E_BADINDEX, index != 0);
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = nullptr;
        ITypeInfo* info = nullptr;
        RETURN_IF_FAILED(typeInfo_.Get(lcid, &info));
        info->AddRef();
        *out = info;
        return S_OK;
    }

    // riid is reserved by the IDispatch contract and must be IID_NULL.
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispIds) noexcept override {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !IsEqualIID(riid, IID_NULL));
        ITypeInfo* info = nullptr;
        RETURN_IF_FAILED(typeInfo_.Get(lcid, &info));
        return info->GetIDsOfNames(names, count, dispIds);
    }

    // The type information describes Interface, so calls go through this object's
    // Interface vtable.
    STDMETHODIMP Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argErr) noexcept override {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !IsEqualIID(riid, IID_NULL));
        ITypeInfo* info = nullptr;
        RETURN_IF_FAILED(typeInfo_.Get(lcid, &info));
        return info->Invoke(static_cast<Interface*>(this), dispId, flags, params, result, excepInfo, argErr);
    }

private:
    static inline TypeInfoCache typeInfo_{libid, major, minor, iid};
};

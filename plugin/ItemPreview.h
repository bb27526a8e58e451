#pragma once
// CItemPreview: the preview object handed to the host for an item. It offers no
// preview: IPlxFilePreview answers "no preview" and nothing else. Its dual
// IItemPreview has no members of its own and serves IDispatch from the
// registered type library. Apartment-threaded.
#include <windows.h>

#include "ItemPlugin.h"
#include "PlxHostInterfaces.h"
#include "module/ComObject.h"

class CItemPreview : public ComObjectRoot<SingleThreadModel>, public IItemPreview, public IPlxFilePreview {
public:
    // IUnknown, IDispatch (as IItemPreview) and IPlxFilePreview; not IID_IItemPreview.
    void* InterfaceFor(REFIID iid) noexcept;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispIds) override;
    STDMETHODIMP Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argErr) override;

    // IPlxFilePreview
    STDMETHODIMP Show() override;
    STDMETHODIMP Unused04() override { return E_NOTIMPL; }
    STDMETHODIMP Unused05() override { return E_NOTIMPL; }
    STDMETHODIMP Unused06() override { return E_NOTIMPL; }
    STDMETHODIMP Unused07() override { return E_NOTIMPL; }
    STDMETHODIMP Unused08() override { return E_NOTIMPL; }
    STDMETHODIMP Unused09() override { return E_NOTIMPL; }
    STDMETHODIMP Unused10() override { return E_NOTIMPL; }
    STDMETHODIMP Unused11() override { return E_NOTIMPL; }
};

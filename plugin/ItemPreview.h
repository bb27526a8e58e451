#pragma once
// CItemPreview: the preview object handed to the host for an item. It offers no
// preview: IPlxFilePreview answers "no preview" and nothing else. Its dual
// IItemPreview has no members of its own and serves IDispatch from the
// registered type library. Apartment-threaded.
#include <windows.h>

#include "ItemPlugin.h"
#include "PlxHostInterfaces.h"
#include "module/ComObject.h"
#include "module/DispatchImpl.h"

class CItemPreview : public ComObjectRoot<SingleThreadModel>,
                     public DispatchImpl<IItemPreview, LIBID_ItemPluginLib, 1, 0, IID_IItemPreview>,
                     public IPlxFilePreview {
public:
    // IUnknown, IDispatch (as IItemPreview) and IPlxFilePreview; not IID_IItemPreview.
    void* InterfaceFor(REFIID iid) noexcept;

    // IPlxFilePreview
    STDMETHODIMP Show() noexcept override;
    STDMETHODIMP Unused04() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused05() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused06() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused07() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused08() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused09() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused10() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused11() noexcept override { return E_NOTIMPL; }
};

#include "plugin/ItemPreview.h"

#include "common/HostResults.h"

void* CItemPreview::InterfaceFor(REFIID iid) noexcept {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) return static_cast<IItemPreview*>(this);
    if (IsEqualIID(iid, IID_IPlxFilePreview)) return static_cast<IPlxFilePreview*>(this);
    return nullptr;
}

// The host asks for a preview; there is none to show.
STDMETHODIMP CItemPreview::Show() noexcept { return ITEM_E_NOPREVIEW; }

#include "plugin/ItemPreview.h"

#include "common/HostResults.h"
#include "module/DispatchImpl.h"

namespace {

TypeInfoCache g_itemPreviewTypeInfo(LIBID_ItemPluginLib, 1, 0, IID_IItemPreview);

}  // namespace

void* CItemPreview::InterfaceFor(REFIID iid) noexcept {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) return static_cast<IItemPreview*>(this);
    if (IsEqualIID(iid, IID_IPlxFilePreview)) return static_cast<IPlxFilePreview*>(this);
    return nullptr;
}

STDMETHODIMP CItemPreview::GetTypeInfoCount(UINT* count) noexcept { return DispatchGetTypeInfoCount(count); }

STDMETHODIMP CItemPreview::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) noexcept {
    return DispatchGetTypeInfo(g_itemPreviewTypeInfo, index, lcid, info);
}

STDMETHODIMP CItemPreview::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispIds) noexcept {
    return DispatchGetIDsOfNames(g_itemPreviewTypeInfo, riid, names, count, lcid, dispIds);
}

STDMETHODIMP CItemPreview::Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) noexcept {
    return DispatchInvoke(g_itemPreviewTypeInfo, static_cast<IItemPreview*>(this), dispId, riid, lcid, flags, params,
                          result, excepInfo, argErr);
}

// The host asks for a preview; there is none to show.
STDMETHODIMP CItemPreview::Show() noexcept { return ITEM_E_NOPREVIEW; }

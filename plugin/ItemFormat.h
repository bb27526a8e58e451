#pragma once
// CItemFormat: the object through which the host meets the plug-in. It names the
// format, creates navigators and preview objects, and reports an item's date.
// Free-threaded; can be aggregated.
#include <windows.h>

#include <cstdint>

#include "ItemPlugin.h"
#include "PlxHostInterfaces.h"
#include "common/ComPtr.h"
#include "module/ComObject.h"
#include "module/DispatchImpl.h"

// The host's type library, whose description of IPlxFileFormat serves IDispatch.
inline constexpr GUID kHostTypeLibrary = {0x5AE6EA86, 0x4907, 0x42E2, {0x8F, 0x9B, 0x79, 0xDA, 0xAC, 0xBC, 0x4F, 0x64}};

// IPlxFileFormat with IDispatch's four methods appended after its own five
// (slots 8 to 11), answered from the host's type library.
struct IPlxFileFormatDispatch : public IPlxFileFormat {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                                    DISPID* dispIds) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                             VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) = 0;
};

class CItemFormat : public ComObjectRoot<MultiThreadModel>,
                    public IItemFormat,
                    public DispatchImpl<IPlxFileFormatDispatch, kHostTypeLibrary, 6, 0, IID_IPlxFileFormat>,
                    public IPlxFileFormatProps {
public:
    void* InterfaceFor(REFIID iid) noexcept;

    // IPlxFileFormat
    STDMETHODIMP GetInfo(BSTR* maker, BSTR* description, BSTR* extensions) noexcept override;
    STDMETHODIMP GetCapabilities(LONG reserved, LONG* flags) noexcept override;
    STDMETHODIMP CreateNavigator(BSTR path, LONG reserved, IPlxFileNavigator** navigator) noexcept override;
    STDMETHODIMP CreatePreview(LONG, LONG, LONG, LONG, IPlxFilePreview** preview) noexcept override;
    STDMETHODIMP Unused07() noexcept override { return E_NOTIMPL; }

    // IPlxFileFormatProps
    STDMETHODIMP GetProperty(LONG id, VARIANT path, VARIANT* value, VARIANT* extra) noexcept override;
    STDMETHODIMP Unused04() noexcept override { return E_NOTIMPL; }

    // The date the host is shown for an item record's timestamp and its kind.
    static double ItemDate(double timestamp, std::int32_t timestampKind) noexcept;

private:
    // Creates and initialises a navigator, records its timestamp pair in the
    // object and also hands that pair back, so that a caller reads its own
    // navigator's date whatever other threads create meanwhile.
    HRESULT NewNavigator(BSTR path, ComPtr<IPlxFileNavigator>& navigator, double& timestamp,
                         std::int32_t& kind) noexcept;

    double lastTimestamp_ = 0.0;
    std::int32_t lastTimestampKind_ = 0;
};

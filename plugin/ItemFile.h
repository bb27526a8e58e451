#pragma once
// CItemFile: the navigator the host receives for one item path. It finds the
// item's vault from the view root's desktop.ini, reads the item cache under the
// cache lock, and hands the host the item's references. Free-threaded.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "ItemPlugin.h"
#include "PlxHostInterfaces.h"
#include "common/CString.h"
#include "common/UniqueResource.h"
#include "module/ComObject.h"

class CItemFile : public ComObjectRoot<MultiThreadModel>, public IItemFile, public IPlxFileNavigator {
public:
    HRESULT FinalConstruct() noexcept;
    void* InterfaceFor(REFIID iid) noexcept;

    // Binds the navigator to path and reads the item's record (its date).
    HRESULT Init(BSTR path) noexcept;
    double Timestamp() const noexcept { return timestamp_; }
    std::int32_t TimestampKind() const noexcept { return timestampKind_; }

    // IPlxFileNavigator
    STDMETHODIMP GetReferences(LONG reserved, LONG* count, ReferenceRecord** records) noexcept override;
    STDMETHODIMP Unused04() noexcept override { return S_OK; }
    STDMETHODIMP Unused05() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused06() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused07() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused08() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused09() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused10() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused11() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused12() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused13() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused14() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused15() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused16() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused17() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused18() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetOption(LONG option) noexcept override;
    STDMETHODIMP Unused20() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused21() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unused22() noexcept override { return E_NOTIMPL; }

private:
    // The vault identity of an item path: 0x8004021D unless the path has a drive
    // letter, contains "<items>" and its view root names a vault.
    // processCaches false: the thread acts for another user (asked once per request).
    static HRESULT FindVault(const CString& path, GUID& vaultId, bool processCaches);

    UniqueBstr itemPath_;
    double timestamp_ = 0.0;
    std::int32_t timestampKind_ = 0;
    std::atomic<bool> dropType3_{false};
};

#include "plugin/ItemFormat.h"

#include "common/ComPtr.h"
#include "common/RequestTrace.h"
#include "common/Result.h"
#include "common/UniqueResource.h"
#include "plugin/ItemFile.h"
#include "plugin/ItemPreview.h"

namespace {

constexpr wchar_t kMaker[] = L"Kestrelmar";
constexpr wchar_t kDescription[] = L"Item reference provider";
constexpr wchar_t kItemExtension[] = L".<item>";
constexpr LONG kCapabilities = 0x4001;
constexpr LONG kDateProperty = 1;
constexpr std::int32_t kEvenSecondKind = 1;

bool SameDateAndTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

}  // namespace

void* CItemFormat::InterfaceFor(REFIID iid) noexcept {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IItemFormat)) return static_cast<IItemFormat*>(this);
    if (IsEqualIID(iid, IID_IPlxFileFormat)) return static_cast<IPlxFileFormat*>(this);
    if (IsEqualIID(iid, IID_IPlxFileFormatProps)) return static_cast<IPlxFileFormatProps*>(this);
    return nullptr;
}

STDMETHODIMP CItemFormat::GetInfo(BSTR* maker, BSTR* description, BSTR* extensions) noexcept {
    RETURN_HR_IF(E_POINTER, !maker || !description || !extensions);
    const wchar_t* extension = kItemExtension;
    while (*extension == L'.') ++extension;
    UniqueBstr makerText(SysAllocString(kMaker));
    UniqueBstr descriptionText(SysAllocString(kDescription));
    UniqueBstr extensionText(SysAllocString(extension));
    // All three or none: the host never receives a half answer.
    if (!makerText || !descriptionText || !extensionText) return E_OUTOFMEMORY;
    *maker = makerText.Release();
    *description = descriptionText.Release();
    *extensions = extensionText.Release();
    return S_OK;
}

STDMETHODIMP CItemFormat::GetCapabilities(LONG /*reserved*/, LONG* flags) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, flags);
    *flags = kCapabilities;
    return S_OK;
}

HRESULT CItemFormat::NewNavigator(BSTR path, ComPtr<IPlxFileNavigator>& navigator, double& timestamp,
                                  std::int32_t& kind) noexcept {
    ComObject<CItemFile>* created = nullptr;
    RETURN_IF_FAILED(ComObject<CItemFile>::CreateInstance(&created));
    ComPtr<IPlxFileNavigator> owner(static_cast<IPlxFileNavigator*>(created));
    RETURN_IF_FAILED(created->Init(path));
    timestamp = created->Timestamp();
    kind = created->TimestampKind();
    {
        CriticalSectionLock lock(objectLock_);
        lastTimestampKind_ = kind;
        lastTimestamp_ = timestamp;
    }
    navigator = std::move(owner);
    return S_OK;
}

STDMETHODIMP CItemFormat::CreateNavigator(BSTR path, LONG /*reserved*/, IPlxFileNavigator** navigator) noexcept {
    const RequestCallScope call(RequestCall::CreateNavigator);
    RETURN_HR_IF_NULL(E_POINTER, navigator);
    ComPtr<IPlxFileNavigator> created;
    double timestamp = 0.0;
    std::int32_t kind = 0;
    RETURN_IF_FAILED(NewNavigator(path, created, timestamp, kind));
    *navigator = created.Detach();
    return S_OK;
}

STDMETHODIMP CItemFormat::CreatePreview(LONG, LONG, LONG, LONG, IPlxFilePreview** preview) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, preview);
    ComObject<CItemPreview>* created = nullptr;
    RETURN_IF_FAILED(ComObject<CItemPreview>::CreateInstance(&created));
    ComPtr<IPlxFilePreview> owner(static_cast<IPlxFilePreview*>(created));
    *preview = owner.Detach();
    return S_OK;
}

double CItemFormat::ItemDate(double timestamp, std::int32_t timestampKind) noexcept {
    if (timestampKind == kEvenSecondKind) {
        // Down to an even second, with no time-zone change.
        SYSTEMTIME time{}, check{};
        double date = 0.0;
        if (!VariantTimeToSystemTime(timestamp, &time)) return 0.0;
        time.wMilliseconds = 0;
        time.wSecond &= ~1;
        if (!SystemTimeToVariantTime(&time, &date) || !VariantTimeToSystemTime(date, &check)) return 0.0;
        return SameDateAndTime(time, check) ? date : 0.0;
    }
    // Stored as UTC; shown in the system's current time zone.
    if (timestamp <= 0.0) return timestamp;
    SYSTEMTIME utc{}, local{};
    double date = 0.0;
    if (!VariantTimeToSystemTime(timestamp, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
        !SystemTimeToVariantTime(&local, &date)) {
        return timestamp;
    }
    return date;
}

STDMETHODIMP CItemFormat::GetProperty(LONG id, VARIANT path, VARIANT* value, VARIANT* extra) noexcept try {
    const RequestCallScope call(RequestCall::GetProperty);
    RETURN_HR_IF(E_POINTER, !value || !extra);
    RETURN_HR_IF(E_NOTIMPL, id != kDateProperty);

    UniqueVariant text;
    RETURN_IF_FAILED(VariantCopy(&text, &path));
    if (text.vt != VT_BSTR) RETURN_IF_FAILED(VariantChangeType(&text, &text, 0, VT_BSTR));
    RETURN_HR_IF(E_INVALIDARG, !text.bstrVal || SysStringLen(text.bstrVal) == 0);

    ComPtr<IPlxFileNavigator> navigator;
    double timestamp = 0.0;
    std::int32_t kind = 0;
    RETURN_IF_FAILED(NewNavigator(text.bstrVal, navigator, timestamp, kind));

    const double date = ItemDate(timestamp, kind);
    VariantClear(value);
    value->vt = VT_DATE;
    value->date = date;
    VariantClear(extra);
    extra->vt = VT_I4;
    extra->lVal = 0;
    return S_OK;
}
CATCH_RETURN()

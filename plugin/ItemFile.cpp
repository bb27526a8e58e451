#include "plugin/ItemFile.h"

#include <shlwapi.h>

#include <vector>

#include "cache/ItemCacheFile.h"
#include "cache/ItemCacheLock.h"
#include "common/HostResults.h"
#include "common/Result.h"
#include "plugin/ReferenceRecord.h"
#include "settings/ViewIdentity.h"

namespace {

constexpr std::int32_t kCacheOpenMode = 3;
constexpr std::int32_t kHiddenState = 3;
constexpr std::int32_t kOptionalType = 3;
constexpr LONG kOptionDropType3 = 3;

LONG LinkCodeOf(std::int32_t linkType) {
    switch (linkType) {
        case 4: return 4;
        case 6: return 5;
        default: return 0;
    }
}

LONG TypeCodeOf(std::int32_t itemType) {
    switch (itemType) {
        case 1: return 4;
        case 2: return 5;
        default: return 1;
    }
}

// Owns a record array while it is filled; the host receives it only whole.
class RecordArray {
public:
    explicit RecordArray(size_t count) : count_(count) {
        records_ = static_cast<ReferenceRecord*>(CoTaskMemAlloc(count * sizeof(ReferenceRecord)));
        if (!records_) ThrowHResult(E_OUTOFMEMORY);
        ZeroMemory(records_, count * sizeof(ReferenceRecord));
    }
    RecordArray(const RecordArray&) = delete;
    RecordArray& operator=(const RecordArray&) = delete;
    ~RecordArray() { FreeReferenceRecords(records_, static_cast<long>(count_)); }

    void Fill(size_t index, const ChildWithLink& child) {
        ReferenceRecord& record = records_[index];
        record.numbersSize = sizeof(ReferenceNumbers);
        record.numbers = static_cast<ReferenceNumbers*>(CoTaskMemAlloc(sizeof(ReferenceNumbers)));
        if (!record.numbers) ThrowHResult(E_OUTOFMEMORY);
        *record.numbers = ReferenceNumbers{child.ref1, child.ref3, child.ref2, child.ref4, child.state};
        record.path = SysAllocString(child.path);
        record.name = SysAllocString(child.name);
        if (!record.path || !record.name) ThrowHResult(E_OUTOFMEMORY);
        record.linkCode = LinkCodeOf(child.linkType);
        record.one = 1;
        record.typeCode = TypeCodeOf(child.itemType);
    }

    ReferenceRecord* Release() noexcept {
        count_ = 0;
        return std::exchange(records_, nullptr);
    }

private:
    size_t count_;
    ReferenceRecord* records_ = nullptr;
};

}  // namespace

HRESULT CItemFile::FinalConstruct() noexcept {
    RETURN_IF_FAILED(ComObjectRoot<MultiThreadModel>::FinalConstruct());
    itemPath_.Reset(SysAllocString(L""));
    return itemPath_ ? S_OK : E_OUTOFMEMORY;
}

void* CItemFile::InterfaceFor(REFIID iid) noexcept {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IItemFile)) return static_cast<IItemFile*>(this);
    if (IsEqualIID(iid, IID_IPlxFileNavigator)) return static_cast<IPlxFileNavigator*>(this);
    return nullptr;
}

HRESULT CItemFile::FindVault(const CString& path, GUID& vaultId) {
    if (PathGetDriveNumberW(path.c_str()) == -1) return ITEM_E_INVALIDNAME;
    const size_t marker = path.find(L"<items>");
    if (marker == CString::npos) return ITEM_E_INVALIDNAME;
    // Without a vault identity there is no cache to read: never invent one.
    if (!ReadViewIdentity(path.substr(0, marker), ViewIdentity::Vault, vaultId)) return ITEM_E_INVALIDNAME;
    return S_OK;
}

CString CItemFile::ItemName(const CString& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == CString::npos ? path : path.substr(slash + 1);
}

HRESULT CItemFile::Init(BSTR path) noexcept try {
    if (path) {
        UniqueBstr copy(SysAllocStringLen(path, SysStringLen(path)));
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, copy.Get());
        itemPath_ = std::move(copy);
    } else {
        itemPath_.Reset();
    }
    const CString itemPath = StringOrEmpty(itemPath_.Get());

    GUID vaultId{};
    RETURN_IF_FAILED(FindVault(itemPath, vaultId));
    RefPtr<CItemCacheFile> file(new CItemCacheFile(vaultId));
    ItemCacheLock lock(file, kCacheOpenMode);
    const CString name = ItemName(itemPath);

    std::int32_t kind = 0;
    RETURN_IF_FAILED(file->LookupItem(lock, name, kind));
    timestampKind_ = kind;
    RefPtr<ItemObject> item;
    const HRESULT hr = file->ReadItem(lock, name, item);
    if (SUCCEEDED(hr)) timestamp_ = item->timestamp;
    return hr;
}
CATCH_RETURN()

STDMETHODIMP CItemFile::GetReferences(LONG /*reserved*/, LONG* count, ReferenceRecord** records) try {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 0;
    RETURN_HR_IF_NULL(E_POINTER, records);

    const CString itemPath = StringOrEmpty(itemPath_.Get());
    GUID vaultId{};
    RETURN_IF_FAILED(FindVault(itemPath, vaultId));
    RefPtr<CItemCacheFile> file(new CItemCacheFile(vaultId));

    std::vector<RefPtr<ChildWithLink>> children;
    HRESULT hr;
    {
        ItemCacheLock lock(file, kCacheOpenMode);
        hr = file->ReadChildren(lock, ItemName(itemPath), children);
    }
    // An unreadable list is no error for the host: it simply has no references.
    if (FAILED(hr)) return S_OK;

    const bool dropType3 = dropType3_.load();
    std::erase_if(children, [dropType3](const RefPtr<ChildWithLink>& child) {
        return child->state == kHiddenState || (dropType3 && child->itemType == kOptionalType);
    });

    RecordArray array(children.size());
    for (size_t i = 0; i < children.size(); ++i) array.Fill(i, *children[i]);
    *records = array.Release();
    *count = static_cast<LONG>(children.size());
    return S_OK;
}
CATCH_RETURN()

// nothrow: sets a flag
STDMETHODIMP CItemFile::SetOption(LONG option) {
    if (option == kOptionDropType3) dropType3_ = true;
    return S_OK;
}

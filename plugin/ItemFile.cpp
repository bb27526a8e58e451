#include "plugin/ItemFile.h"

#include <shlwapi.h>

#include <vector>

#include "cache/ItemCacheFile.h"
#include "cache/ItemCacheLock.h"
#include "common/HostResults.h"
#include "common/RequestTrace.h"
#include "common/Result.h"
#include "plugin/ItemPath.h"
#include "plugin/ReferenceList.h"
#include "settings/ThreadToken.h"
#include "settings/VaultViewCache.h"

namespace {

constexpr std::int32_t kCacheOpenMode = 3;
constexpr LONG kOptionDropType3 = 3;

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

HRESULT CItemFile::FindVault(const CString& path, GUID& vaultId, bool processCaches) {
    ItemPathParts parts;
    const HRESULT split = SplitItemPath(path, PathGetDriveNumberW(path.c_str()), parts) ? S_OK : ITEM_E_INVALIDNAME;
    if (const RequestStep step = Observed()) {
        step->ItemPath(step.call, parts.drive, parts.marker != CString::npos, parts.viewRoot, ItemName(path), split);
    }
    RETURN_IF_FAILED(split);
    // Without a vault identity there is no cache to read: never invent one.
    if (!ProcessVaultViews().ReadIdentity(parts.viewRoot, ViewIdentity::Vault, vaultId, processCaches)) return ITEM_E_INVALIDNAME;
    return S_OK;
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
    const bool processCaches = !ThreadImpersonates();
    RETURN_IF_FAILED(FindVault(itemPath, vaultId, processCaches));
    RefPtr<CItemCacheFile> file(new CItemCacheFile(vaultId, processCaches));
    ItemCacheLock lock(file, kCacheOpenMode);
    const CString name = ItemName(itemPath);

    // One read of the item record gives both halves of the date.
    RefPtr<ItemObject> item;
    RETURN_IF_FAILED(MapStorageResult(file->ReadItem(lock, name, item)));
    timestampKind_ = item->timestampKind;
    timestamp_ = item->timestamp;
    return S_OK;
}
CATCH_RETURN()

STDMETHODIMP CItemFile::GetReferences(LONG /*reserved*/, LONG* count, ReferenceRecord** records) noexcept try {
    const RequestCallScope call(RequestCall::GetReferences);
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 0;
    RETURN_HR_IF_NULL(E_POINTER, records);

    const CString itemPath = StringOrEmpty(itemPath_.Get());
    GUID vaultId{};
    const bool processCaches = !ThreadImpersonates();
    RETURN_IF_FAILED(FindVault(itemPath, vaultId, processCaches));
    RefPtr<CItemCacheFile> file(new CItemCacheFile(vaultId, processCaches));

    // The list is read piece by piece under the lock and each record built as
    // it is parsed, so the stream is never held whole beside its records.
    ReferenceFilter filter;
    filter.dropType3 = dropType3_.load();
    HRESULT built = S_OK;
    HRESULT opened = S_OK;
    {
        ItemCacheLock lock(file, kCacheOpenMode);
        opened = file->ReadChildStream(lock, ItemName(itemPath), [&](StreamCursor& list) {
            built = BuildReferenceRecords(list, filter, records, count);
            return S_OK;
        });
    }
    return ReferencesAnswer(opened, built);
}
CATCH_RETURN()

STDMETHODIMP CItemFile::SetOption(LONG option) noexcept {
    if (option == kOptionDropType3) dropType3_ = true;
    return S_OK;
}

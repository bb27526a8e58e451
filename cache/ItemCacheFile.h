#pragma once
// CItemCacheFile: the item cache file of one vault, a compound file under the
// per-user data folder. It is used only through an ItemCacheLock, which holds
// the cross-process cache lock while the file is open.
#include <objbase.h>

#include <cstdint>
#include <vector>

#include "cache/ItemObject.h"
#include "cache/RefObj.h"
#include "cache/RefPtr.h"
#include "common/CString.h"
#include "common/ComPtr.h"

class ItemCacheLock;

class CItemCacheFile : public RefObj {
public:
    static constexpr int kFormatVersion = 1;

    // Computes the file's path for the vault and creates its folders.
    explicit CItemCacheFile(const GUID& vaultId);

    const CString& Path() const noexcept { return path_; }
    const CString& Description() const noexcept { return description_; }
    IStorage* RootStorage() const noexcept { return rootStorage_.Get(); }

    // Opens the file for direct read/write access, or creates it holding only
    // its header stream; hands the lock object a new StorageChain.
    HRESULT Open(ItemCacheLock& lock, std::int32_t mode);
    // Called by the lock object when it closes the file.
    void ReleaseRootStorage() noexcept { rootStorage_.Reset(); }

    // The item record of the item with file name name.
    HRESULT ReadItem(ItemCacheLock& lock, const CString& name, RefPtr<ItemObject>& item);
    // Only the record's timestampKind; E_FAIL becomes 0x80040228.
    HRESULT LookupItem(ItemCacheLock& lock, const CString& name, std::int32_t& timestampKind);
    // Appends the item's children in stored order.
    HRESULT ReadChildren(ItemCacheLock& lock, const CString& name, std::vector<RefPtr<ChildWithLink>>& children);

private:
    HRESULT Create(ItemCacheLock& lock);
    HRESULT OpenRecordStream(ItemCacheLock& lock, const CString& key, IStream** stream);

    CString path_;
    CString description_;
    ComPtr<IStorage> rootStorage_;
};

#pragma once
// ItemCacheLock: uses one item cache file. Construction waits for the cache
// lock (a named mutex shared by all processes and all vaults) and opens the
// file; destruction closes the file, then gives the lock back.
#include <windows.h>

#include <cstdint>
#include <optional>

#include "cache/CacheMutex.h"
#include "cache/ItemCacheFile.h"
#include "cache/RefPtr.h"
#include "cache/StorageChain.h"

class ItemCacheLock {
public:
    ItemCacheLock(RefPtr<CItemCacheFile> file, std::int32_t mode);
    ItemCacheLock(const ItemCacheLock&) = delete;
    ItemCacheLock& operator=(const ItemCacheLock&) = delete;

    // The open file; null when it could not be opened (reads then report E_FAIL).
    StorageChain* Chain() noexcept { return chain_ ? &*chain_ : nullptr; }
    // What opening the file answered (after finding its folders again when
    // they had gone); E_FAIL without a file object.
    HRESULT OpenResult() const noexcept { return open_; }

private:
    // Members go in reverse order: the chain closes its storages and the file,
    // then the mutex is released, its handle closed, and the file object let go.
    RefPtr<CItemCacheFile> file_;
    std::optional<CacheMutex> mutex_;
    std::optional<StorageChain> chain_;
    HRESULT open_ = E_FAIL;
};

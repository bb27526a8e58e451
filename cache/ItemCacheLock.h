#pragma once
// ItemCacheLock: uses one item cache file. Construction waits for the cache
// lock (a named mutex shared by all processes and all vaults) and opens the
// file; destruction closes the file, then gives the lock back.
#include <windows.h>

#include <cstdint>
#include <memory>

#include "cache/ItemCacheFile.h"
#include "cache/RefPtr.h"
#include "cache/StorageChain.h"

inline constexpr wchar_t kItemCacheMutexName[] = L"804BF230-0F69-4525-ADF3-E15F2077A46E";

class ItemCacheLock {
public:
    ItemCacheLock(RefPtr<CItemCacheFile> file, std::int32_t mode);
    ItemCacheLock(const ItemCacheLock&) = delete;
    ItemCacheLock& operator=(const ItemCacheLock&) = delete;
    ~ItemCacheLock();

    StorageChain* Chain() noexcept { return chain_.get(); }
    void SetChain(std::unique_ptr<StorageChain> chain) noexcept { chain_ = std::move(chain); }
    // What opening the file gave; reads report E_FAIL when it failed.
    HRESULT OpenResult() const noexcept { return openResult_; }
    bool HoldsMutex() const noexcept { return mutex_ != nullptr; }

private:
    void Close() noexcept;

    RefPtr<CItemCacheFile> file_;
    HANDLE mutex_ = nullptr;
    std::unique_ptr<StorageChain> chain_;
    HRESULT openResult_ = E_FAIL;
};

#include "cache/ItemCacheLock.h"

ItemCacheLock::ItemCacheLock(RefPtr<CItemCacheFile> file, std::int32_t mode) : file_(std::move(file)) {
    if (!file_) return;
    // Waits without limit. Without a handle the file is opened unguarded.
    mutex_.emplace();
    // A failed open leaves no chain.
    file_->Open(mode, chain_);
}

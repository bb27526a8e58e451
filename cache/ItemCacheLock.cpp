#include "cache/ItemCacheLock.h"

#include "common/RequestTrace.h"

ItemCacheLock::ItemCacheLock(RefPtr<CItemCacheFile> file, std::int32_t mode) : file_(std::move(file)) {
    if (!file_) return;
    // Waits without limit. Without a handle the file is opened unguarded.
    mutex_.emplace();
    if (const RequestStep step = Observed()) step->CacheLock(step.call, mutex_->Held(), mutex_->WaitMs());
    // A failed open leaves no chain.
    open_ = file_->Open(mode, chain_);
    if (open_ != CItemCacheFile::kFolderGone) return;
    // Only the file's own operations run under the lock: finding the folders
    // again means the shell, the registry and every view root.
    mutex_.reset();
    file_->Relocate();
    mutex_.emplace();
    open_ = file_->Open(mode, chain_);
}

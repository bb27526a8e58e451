#include "cache/ItemCacheLock.h"

namespace {

HANDLE OpenOrCreateCacheMutex() {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kItemCacheMutexName);
    if (mutex) return mutex;

    // A null DACL lets every account open the mutex.
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    const bool haveDescriptor = InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                                SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    return CreateMutexW(haveDescriptor ? &attributes : nullptr, FALSE, kItemCacheMutexName);
}

}  // namespace

ItemCacheLock::ItemCacheLock(RefPtr<CItemCacheFile> file, std::int32_t mode) : file_(std::move(file)) {
    if (!file_) return;
    mutex_ = OpenOrCreateCacheMutex();
    // An abandoned mutex counts as acquired: its owner died, the file is ours now.
    if (mutex_) WaitForSingleObject(mutex_, INFINITE);
    try {
        openResult_ = file_->Open(*this, mode);
    } catch (...) {
        Close();
        throw;
    }
}

ItemCacheLock::~ItemCacheLock() { Close(); }

// The file is closed before the cache lock is given back.
void ItemCacheLock::Close() noexcept {
    chain_.reset();
    if (file_) file_->ReleaseRootStorage();
    if (mutex_) {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
        mutex_ = nullptr;
    }
    file_ = nullptr;
}

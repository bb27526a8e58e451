#include "cache/ItemCacheLock.h"

namespace {

UniqueHandle OpenOrCreateCacheMutex() {
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kItemCacheMutexName));
    if (mutex) return mutex;

    // A null DACL lets every account open the mutex.
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    const bool haveDescriptor = InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                                SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    return UniqueHandle(CreateMutexW(haveDescriptor ? &attributes : nullptr, FALSE, kItemCacheMutexName));
}

}  // namespace

ItemCacheLock::ItemCacheLock(RefPtr<CItemCacheFile> file, std::int32_t mode) : file_(std::move(file)) {
    if (!file_) return;
    mutex_ = OpenOrCreateCacheMutex();
    if (mutex_) {
        // An abandoned mutex counts as acquired: its owner died, the file is ours now.
        WaitForSingleObject(mutex_.Get(), INFINITE);
        mutexHeld_.Reset(mutex_.Get());
    }
    // Without a handle the file is opened unguarded. A failed open leaves no chain.
    file_->Open(mode, chain_);
}

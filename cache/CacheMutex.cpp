#include "cache/CacheMutex.h"

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

CacheMutex::CacheMutex(DWORD timeoutMs) noexcept : mutex_(OpenOrCreateCacheMutex()) {
    if (!mutex_) return;
    const ULONGLONG start = GetTickCount64();
    const DWORD waited = WaitForSingleObject(mutex_.Get(), timeoutMs);
    waitMs_ = static_cast<DWORD>(GetTickCount64() - start);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        held_.Reset(mutex_.Get());
    } else {
        timedOut_ = waited == WAIT_TIMEOUT;
    }
}

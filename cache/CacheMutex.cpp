#include "cache/CacheMutex.h"

#include <atomic>

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

// The process's handle, closed when the module unloads.
class ProcessMutex {
public:
    ProcessMutex() = default;
    ProcessMutex(const ProcessMutex&) = delete;
    ProcessMutex& operator=(const ProcessMutex&) = delete;
    ~ProcessMutex() {
        if (HANDLE mutex = handle_.exchange(nullptr)) CloseHandle(mutex);
    }

    // Null when it can be neither opened nor created; the next use tries again.
    HANDLE Get() noexcept {
        if (HANDLE mutex = handle_.load(std::memory_order_acquire)) return mutex;
        UniqueHandle opened = OpenOrCreateCacheMutex();
        if (!opened) return nullptr;
        HANDLE expected = nullptr;
        if (handle_.compare_exchange_strong(expected, opened.Get(), std::memory_order_acq_rel)) return opened.Release();
        return expected;  // another thread's, and this one closed
    }

private:
    std::atomic<HANDLE> handle_{nullptr};
};

ProcessMutex g_processMutex;

}  // namespace

CacheMutex::CacheMutex(DWORD timeoutMs) noexcept {
    HANDLE mutex = g_processMutex.Get();
    if (!mutex) return;
    const ULONGLONG start = GetTickCount64();
    const DWORD waited = WaitForSingleObject(mutex, timeoutMs);
    waitMs_ = static_cast<DWORD>(GetTickCount64() - start);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        held_.Reset(mutex);
    } else {
        timedOut_ = waited == WAIT_TIMEOUT;
    }
}

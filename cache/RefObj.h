#pragma once
// RefObj: an intrusive, atomically changed reference count. An object starts at
// 0; its creator puts it into a RefPtr at once, and the last reference to go
// destroys it through the virtual destructor.
#include <atomic>
#include <cstdint>

class RefObj {
public:
    RefObj() noexcept = default;
    RefObj(const RefObj&) = delete;
    RefObj& operator=(const RefObj&) = delete;
    virtual ~RefObj() = default;

    void AddRef() const noexcept { refCount_.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept {
        if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    std::int32_t RefCount() const noexcept { return refCount_.load(std::memory_order_relaxed); }

private:
    mutable std::atomic<std::int32_t> refCount_{0};
};

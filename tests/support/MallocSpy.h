#pragma once
// Watches the COM task allocator through IMallocSpy: keeps the live blocks by
// address (so a test can see that everything handed out was freed) and can make
// the n-th allocation from now on fail. By address, because the allocator's own
// "spied" flag is not to be trusted: Wine treats a block whose reallocation
// failed as unspied, although it is still live. Run with OANOCACHE=1, or Wine's
// BSTR cache makes no task allocation for most BSTRs.
#include <objbase.h>

#include <atomic>
#include <set>

class MallocSpy final : public IMallocSpy {
public:
    MallocSpy();
    MallocSpy(const MallocSpy&) = delete;
    MallocSpy& operator=(const MallocSpy&) = delete;
    ~MallocSpy();

    bool Registered() const { return registered_; }
    long LiveBlocks() const;
    long Allocations() const { return allocations_.load(); }
    // Allocation number n (1 = the next one) fails; 0 turns failing off.
    void FailAllocation(long n);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T request) override;
    STDMETHODIMP_(void*) PostAlloc(void* actual) override;
    STDMETHODIMP_(void*) PreFree(void* request, BOOL spyed) override;
    STDMETHODIMP_(void) PostFree(BOOL spyed) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T cb, void** newRequest, BOOL spyed) override;
    STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL spyed) override;
    STDMETHODIMP_(void*) PreGetSize(void* request, BOOL spyed) override { return request; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T actual, BOOL spyed) override { return actual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL spyed) override { return request; }
    STDMETHODIMP_(int) PostDidAlloc(void* request, BOOL spyed, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

private:
    bool registered_ = false;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::set<void*> live_;
    // The block a reallocation started from and the size asked (between Pre and Post).
    void* reallocating_ = nullptr;
    SIZE_T reallocSize_ = 0;
    std::atomic<long> allocations_{0};
    std::atomic<long> failAt_{0};
};

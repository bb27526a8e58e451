#include "tests/support/MallocSpy.h"

namespace {

class Exclusive {
public:
    explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;
    ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};

}  // namespace

MallocSpy::MallocSpy() { registered_ = SUCCEEDED(CoRegisterMallocSpy(this)); }

MallocSpy::~MallocSpy() {
    if (registered_) CoRevokeMallocSpy();
}

long MallocSpy::LiveBlocks() const {
    Exclusive hold(lock_);
    return static_cast<long>(live_.size());
}

void MallocSpy::FailAllocation(long n) { failAt_ = n ? allocations_.load() + n : 0; }

STDMETHODIMP MallocSpy::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
        *out = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(SIZE_T) MallocSpy::PreAlloc(SIZE_T request) {
    const long number = ++allocations_;
    // Answering 0 for a non-empty request makes the allocation fail.
    if (failAt_.load() != 0 && number == failAt_.load()) return 0;
    return request;
}

STDMETHODIMP_(void*) MallocSpy::PostAlloc(void* actual) {
    if (actual) {
        Exclusive hold(lock_);
        live_.insert(actual);
    }
    return actual;
}

STDMETHODIMP_(void*) MallocSpy::PreFree(void* request, BOOL /*spyed*/) {
    if (request) {
        Exclusive hold(lock_);
        live_.erase(request);
    }
    return request;
}

STDMETHODIMP_(SIZE_T) MallocSpy::PreRealloc(void* request, SIZE_T cb, void** newRequest, BOOL /*spyed*/) {
    *newRequest = request;
    Exclusive hold(lock_);
    reallocating_ = request;
    reallocSize_ = cb;
    return cb;
}

STDMETHODIMP_(void*) MallocSpy::PostRealloc(void* actual, BOOL /*spyed*/) {
    Exclusive hold(lock_);
    // A reallocation that failed leaves the old block as it was; one to zero
    // bytes frees it; any other moves it.
    if (actual || reallocSize_ == 0) {
        if (reallocating_) live_.erase(reallocating_);
        if (actual) live_.insert(actual);
    }
    reallocating_ = nullptr;
    return actual;
}

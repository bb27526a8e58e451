#include "tests/support/MallocSpy.h"

MallocSpy::MallocSpy() { registered_ = SUCCEEDED(CoRegisterMallocSpy(this)); }

MallocSpy::~MallocSpy() {
    if (registered_) CoRevokeMallocSpy();
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
    if (actual) ++live_;
    return actual;
}

STDMETHODIMP_(void*) MallocSpy::PreFree(void* request, BOOL spyed) {
    if (request && spyed) --live_;
    return request;
}

STDMETHODIMP_(SIZE_T) MallocSpy::PreRealloc(void* request, SIZE_T cb, void** newRequest, BOOL spyed) {
    *newRequest = request;
    if (request && spyed) --live_;
    return cb;
}

STDMETHODIMP_(void*) MallocSpy::PostRealloc(void* actual, BOOL spyed) {
    if (actual) ++live_;
    return actual;
}

#include "module/ClassFactory.h"

#include <new>

#include "common/Result.h"
#include "module/ItemPluginModule.h"

HRESULT CClassFactory::Create(InstanceCreator createInstance, REFIID iid, void** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    auto* factory = new (std::nothrow) CClassFactory(createInstance);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, factory);
    const HRESULT hr = factory->QueryInterface(iid, out);
    if (FAILED(hr)) delete factory;
    return hr;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID iid, void** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() noexcept {
    const long count = ++refCount_;
    if (count == 2) Module().AddLock();
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CClassFactory::Release() noexcept {
    const long count = --refCount_;
    if (count == 1) {
        Module().ReleaseLock();
    } else if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

// The instance creation function checks the out pointer and refuses an outer
// object with any IID but IUnknown (CLASS_E_NOAGGREGATION).
STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept {
    return createInstance_(outer, iid, out);
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock) noexcept {
    if (lock) {
        Module().AddLock();
    } else {
        Module().ReleaseLock();
    }
    return S_OK;
}

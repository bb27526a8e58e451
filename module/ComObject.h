#pragma once
// Instance wrappers for the plug-in's COM classes.
//
// A class T derives from ComObjectRoot<ThreadModel> and from its interfaces and
// provides
//     void* InterfaceFor(REFIID iid) noexcept;
// which answers the interface pointer for iid (IUnknown included) without adding
// a reference, or null. It may hide FinalConstruct() to do fallible set-up (and
// must then call the base's). The IUnknown methods come from the wrappers:
//   ComObject<T>         a plain instance with its own reference count;
//   AggregatedObject<T>  an aggregated instance: its own IUnknown controls the
//                        lifetime, and the interfaces of the contained T forward
//                        to the outer object.
// Every live wrapper holds one module lock.
#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <new>

#include "common/ComPtr.h"
#include "common/CriticalSection.h"
#include "common/Result.h"
#include "module/ItemPluginModule.h"

struct MultiThreadModel {
    using Count = std::atomic<long>;
    static long Increment(Count& count) noexcept { return ++count; }
    static long Decrement(Count& count) noexcept { return --count; }
};

struct SingleThreadModel {
    using Count = long;
    static long Increment(Count& count) noexcept { return ++count; }
    static long Decrement(Count& count) noexcept { return --count; }
};

template <class ThreadModelT>
class ComObjectRoot {
public:
    using ThreadModel = ThreadModelT;
    HRESULT FinalConstruct() noexcept { return S_OK; }
};

// Free-threaded classes also own an object critical section.
template <>
class ComObjectRoot<MultiThreadModel> {
public:
    using ThreadModel = MultiThreadModel;
    HRESULT FinalConstruct() noexcept { return objectLock_.Init(); }

protected:
    CriticalSection objectLock_;
};

namespace com_detail {

template <class T>
HRESULT QueryFrom(T& object, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    void* p = object.InterfaceFor(iid);
    if (!p) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(p)->AddRef();
    *out = p;
    return S_OK;
}

// Drops one reference; the last one destroys the object while the DLL stays
// locked, so that it cannot be unloaded under the destructor.
template <class ThreadModel, class Object>
ULONG ReleaseReference(typename ThreadModel::Count& count, Object* object) noexcept {
    const long remaining = ThreadModel::Decrement(count);
    if (remaining == 0) {
        Module().AddLock();
        delete object;
        Module().ReleaseLock();
    }
    return static_cast<ULONG>(remaining);
}

}  // namespace com_detail

template <class T>
class ComObject final : public T {
public:
    ComObject() { Module().AddLock(); }
    ~ComObject() { Module().ReleaseLock(); }

    // A new instance with reference count 0 whose FinalConstruct succeeded.
    static HRESULT CreateInstance(ComObject** out) noexcept try {
        *out = nullptr;
        auto* object = new (std::nothrow) ComObject();
        if (!object) return E_OUTOFMEMORY;
        const HRESULT hr = object->FinalConstruct();
        if (FAILED(hr)) {
            delete object;
            return hr;
        }
        *out = object;
        return S_OK;
    }
    CATCH_RETURN()

    STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override { return com_detail::QueryFrom<T>(*this, iid, out); }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(T::ThreadModel::Increment(refCount_)); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return com_detail::ReleaseReference<typename T::ThreadModel>(refCount_, this); }

private:
    typename T::ThreadModel::Count refCount_{0};
};

// T inside an aggregate: its IUnknown methods belong to the outer object.
template <class T>
class ContainedObject final : public T {
public:
    explicit ContainedObject(IUnknown* outer) noexcept : outer_(outer) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override { return outer_->QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return outer_->Release(); }

private:
    IUnknown* outer_;
};

template <class T>
class AggregatedObject final : public IUnknown {
public:
    explicit AggregatedObject(IUnknown* outer) : contained_(outer) { Module().AddLock(); }
    ~AggregatedObject() { Module().ReleaseLock(); }

    HRESULT FinalConstruct() noexcept { return contained_.FinalConstruct(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return com_detail::QueryFrom<T>(contained_, iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(T::ThreadModel::Increment(refCount_)); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return com_detail::ReleaseReference<typename T::ThreadModel>(refCount_, this); }

private:
    typename T::ThreadModel::Count refCount_{0};
    ContainedObject<T> contained_;
};

// The instance creation function of class T: a plain instance without an outer
// object, an aggregated one with it.
template <class T>
HRESULT CreateComInstance(IUnknown* outer, REFIID iid, void** out) noexcept try {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) {
        // Any other interface would forward its references to the outer object,
        // leaving the aggregate itself without one: it would be destroyed at once.
        if (!IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        auto* aggregate = new (std::nothrow) AggregatedObject<T>(outer);
        if (!aggregate) return E_OUTOFMEMORY;
        if (const HRESULT hr = aggregate->FinalConstruct(); FAILED(hr)) {
            delete aggregate;
            return hr;
        }
        // The owner's reference destroys the aggregate when the query fails.
        return ComPtr<IUnknown>(aggregate)->QueryInterface(iid, out);
    }
    ComObject<T>* object = nullptr;
    RETURN_IF_FAILED(ComObject<T>::CreateInstance(&object));
    return ComPtr<ComObject<T>>(object)->QueryInterface(iid, out);
}
CATCH_RETURN()

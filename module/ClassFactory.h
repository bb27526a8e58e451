#pragma once
// CClassFactory: the class object of every plug-in class. The module keeps one
// reference to it in the object map; that reference does not lock the DLL,
// while any reference a client holds does.
#include <windows.h>
#include <unknwn.h>

#include <atomic>


// Makes an instance of one class: plain without an outer object, aggregated with one.
using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out) noexcept;

class CClassFactory final : public IClassFactory {
public:
    // A new class object for createInstance, queried for iid.
    static HRESULT Create(InstanceCreator createInstance, REFIID iid, void** out) noexcept;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override;
    STDMETHODIMP LockServer(BOOL lock) noexcept override;

private:
    explicit CClassFactory(InstanceCreator createInstance) noexcept : createInstance_(createInstance) {}
    ~CClassFactory() = default;

    std::atomic<long> refCount_{0};
    InstanceCreator createInstance_;
};

#include "module/ClassObjectRegistry.h"

#include "common/Result.h"

namespace {

IUnknown* Decode(void* slot) noexcept { return static_cast<IUnknown*>(DecodePointer(slot)); }

}  // namespace

bool ClassObjectRegistry::Init() noexcept {
    if (IsInitialized()) return true;
    if (FAILED(lock_.Init())) return false;
    initialized_ = 1;
    return true;
}

void ClassObjectRegistry::Term() noexcept {
    if (!IsInitialized()) return;
    initialized_ = 0;
    for (ObjectMapEntry& entry : map_) {
        if (void* slot = entry.classObject.exchange(nullptr)) Decode(slot)->Release();
    }
    lock_.Term();
}

HRESULT ClassObjectRegistry::GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    RETURN_HR_IF(E_UNEXPECTED, !IsInitialized());
    for (ObjectMapEntry& entry : map_) {
        if (!entry.createClassObject || !IsEqualCLSID(*entry.clsid, clsid)) continue;
        IUnknown* classObject = nullptr;
        RETURN_IF_FAILED(CachedClassObject(entry, &classObject));
        return classObject->QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ClassObjectRegistry::CachedClassObject(ObjectMapEntry& entry, IUnknown** classObject) noexcept {
    void* slot = entry.classObject.load(std::memory_order_acquire);
    if (!slot) {
        CriticalSectionLock lock(lock_);
        slot = entry.classObject.load(std::memory_order_relaxed);
        if (!slot) {
            IUnknown* created = nullptr;
            RETURN_IF_FAILED(entry.createClassObject(entry.createInstance, IID_IUnknown,
                                                     reinterpret_cast<void**>(&created)));
            slot = EncodePointer(created);
            entry.classObject.store(slot, std::memory_order_release);
        }
    }
    *classObject = Decode(slot);
    return S_OK;
}

#include "module/TypeInfoCache.h"

#include "common/ComPtr.h"
#include "common/Result.h"
#include "module/ItemPluginModule.h"

TypeInfoCache::TypeInfoCache(const GUID& libid, WORD major, WORD minor, const IID& iid) noexcept
    : libid_(libid), major_(major), minor_(minor), iid_(iid) {}

HRESULT TypeInfoCache::Get(LCID lcid, ITypeInfo** info) noexcept {
    if (!info) return E_POINTER;
    *info = info_.load(std::memory_order_acquire);
    if (*info) return S_OK;
    CriticalSectionLock lock(Module().SharedLock());
    *info = info_.load(std::memory_order_relaxed);
    if (*info) return S_OK;
    return Load(lcid, info);
}

HRESULT TypeInfoCache::Load(LCID lcid, ITypeInfo** info) noexcept {
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadRegTypeLib(libid_, major_, minor_, lcid, library.Put()));
    ComPtr<ITypeInfo> loaded;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(iid_, loaded.Put()));
    // Prefer the extended interface where the platform offers it.
    ComPtr<ITypeInfo> extended;
    if (SUCCEEDED(loaded->QueryInterface(IID_ITypeInfo2, extended.PutVoid()))) loaded = extended;
    // Without a release at shut-down the information would leak: refuse to cache it.
    RETURN_IF_FAILED(Module().AddTermFunc(&TypeInfoCache::ReleaseAtShutdown, this));
    *info = loaded.Detach();
    info_.store(*info, std::memory_order_release);
    return S_OK;
}

void TypeInfoCache::ReleaseAtShutdown(void* self) noexcept {
    if (ITypeInfo* info = static_cast<TypeInfoCache*>(self)->info_.exchange(nullptr)) info->Release();
}

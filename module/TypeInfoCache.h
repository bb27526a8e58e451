#pragma once
// TypeInfoCache: the type information of one interface, loaded through the
// registered type library on first use and kept until the module shuts down.
#include <windows.h>
#include <oaidl.h>

#include <atomic>

class TypeInfoCache {
public:
    TypeInfoCache(const GUID& libid, WORD major, WORD minor, const IID& iid) noexcept;
    TypeInfoCache(const TypeInfoCache&) = delete;
    TypeInfoCache& operator=(const TypeInfoCache&) = delete;
    // No destructor on purpose: the module's termination callback releases the
    // information, and may run after static objects are gone.

    // The type information, without a reference added. A load failure is
    // returned and the load is tried again on the next call.
    HRESULT Get(LCID lcid, ITypeInfo** info) noexcept;

private:
    static void ReleaseAtShutdown(void* self) noexcept;
    HRESULT Load(LCID lcid, ITypeInfo** info) noexcept;

    GUID libid_;
    WORD major_;
    WORD minor_;
    IID iid_;
    std::atomic<ITypeInfo*> info_{nullptr};
};

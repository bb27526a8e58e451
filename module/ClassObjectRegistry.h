#pragma once
// The object map and its class objects: one entry per COM class, walked in
// order by DllGetClassObject and by registration. Each class object is made
// once, on first request, and cached until shut-down.
#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <cstdint>
#include <span>

#include "common/CriticalSection.h"
#include "module/ClassFactory.h"
#include "module/RegistrationTable.h"

struct ObjectMapEntry {
    const CLSID* clsid;
    // The class's registry entries, which self-registration writes and removes.
    std::span<const registration::Row> registryRows;
    HRESULT (*createClassObject)(InstanceCreator createInstance, REFIID iid, void** out) noexcept;
    InstanceCreator createInstance;
    // The class object's IUnknown, stored through EncodePointer; null until first use.
    std::atomic<void*> classObject{nullptr};
};

class ClassObjectRegistry {
public:
    explicit ClassObjectRegistry(std::span<ObjectMapEntry> map) noexcept : map_(map) {}
    ClassObjectRegistry(const ClassObjectRegistry&) = delete;
    ClassObjectRegistry& operator=(const ClassObjectRegistry&) = delete;

    // Start-up: false when the critical section cannot be initialised.
    bool Init() noexcept;
    // Shut-down: releases the cached class objects; later requests get E_UNEXPECTED.
    void Term() noexcept;
    bool IsInitialized() const noexcept { return initialized_.load() != 0; }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

private:
    HRESULT CachedClassObject(ObjectMapEntry& entry, IUnknown** classObject) noexcept;

    std::atomic<std::uint32_t> initialized_{0};
    std::span<ObjectMapEntry> map_;
    CriticalSection lock_;
};

#pragma once
// One-owner wrappers for the handles, keys, BSTRs, VARIANTs and task-allocator
// blocks the plug-in obtains.
#include <windows.h>
#include <oleauto.h>

#include <utility>

template <class T, auto Free, T Invalid = T{}>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(std::exchange(other.value_, Invalid)) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.value_, Invalid));
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { Reset(); }

    T Get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Invalid; }
    void Reset(T value = Invalid) noexcept {
        T old = std::exchange(value_, value);
        if (old != Invalid) Free(old);
    }
    T* Put() noexcept {
        Reset();
        return &value_;
    }
    [[nodiscard]] T Release() noexcept { return std::exchange(value_, Invalid); }

private:
    T value_ = Invalid;
};

namespace unique_detail {
inline void CloseKey(HKEY key) noexcept { RegCloseKey(key); }
inline void CloseHandleValue(HANDLE h) noexcept { CloseHandle(h); }
inline void FreeBstr(BSTR s) noexcept { SysFreeString(s); }
inline void FreeTaskMem(void* p) noexcept { CoTaskMemFree(p); }
inline void FreeLibraryValue(HMODULE m) noexcept { FreeLibrary(m); }
}  // namespace unique_detail

using UniqueHKey = UniqueResource<HKEY, unique_detail::CloseKey>;
using UniqueHandle = UniqueResource<HANDLE, unique_detail::CloseHandleValue>;
using UniqueBstr = UniqueResource<BSTR, unique_detail::FreeBstr>;
using UniqueCoTaskMem = UniqueResource<void*, unique_detail::FreeTaskMem>;
using UniqueHModule = UniqueResource<HMODULE, unique_detail::FreeLibraryValue>;

// A VARIANT that is cleared when it goes.
class UniqueVariant : public VARIANT {
public:
    UniqueVariant() noexcept { VariantInit(this); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(this); }
};

// ---- Owners for the cache session, the settings and the test tools ----------
#include <rpc.h>
#include <shlobj.h>

namespace unique_detail {
inline void ReleaseMutexValue(HANDLE h) noexcept { ReleaseMutex(h); }
inline void FreeRpcString(RPC_WSTR s) noexcept { RpcStringFreeW(&s); }
// Item lists of the shell come from, and go back to, the shell's allocator.
inline void FreeItemIdList(LPITEMIDLIST items) noexcept {
    IMalloc* shellMalloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&shellMalloc)) && shellMalloc) {
        shellMalloc->Free(items);
        shellMalloc->Release();
    }
}
}  // namespace unique_detail

// Ownership of a mutex this thread waited for: ReleaseMutex when it goes. The
// handle itself belongs to a UniqueHandle that must outlive this owner.
using UniqueMutexOwnership = UniqueResource<HANDLE, unique_detail::ReleaseMutexValue>;
using UniqueRpcWstr = UniqueResource<RPC_WSTR, unique_detail::FreeRpcString>;
using UniqueItemIdList = UniqueResource<LPITEMIDLIST, unique_detail::FreeItemIdList>;

// A file handle: CreateFileW reports failure as INVALID_HANDLE_VALUE, not null,
// which no template argument can spell, hence a class of its own.
class UniqueFileHandle {
public:
    UniqueFileHandle() noexcept = default;
    explicit UniqueFileHandle(HANDLE value) noexcept : value_(value) {}
    UniqueFileHandle(UniqueFileHandle&& other) noexcept : value_(std::exchange(other.value_, INVALID_HANDLE_VALUE)) {}
    UniqueFileHandle& operator=(UniqueFileHandle&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.value_, INVALID_HANDLE_VALUE));
        return *this;
    }
    UniqueFileHandle(const UniqueFileHandle&) = delete;
    UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
    ~UniqueFileHandle() { Reset(); }

    HANDLE Get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE value = INVALID_HANDLE_VALUE) noexcept {
        HANDLE old = std::exchange(value_, value);
        if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
    }

private:
    HANDLE value_ = INVALID_HANDLE_VALUE;
};

// ---- Owners of type-library data --------------------------------------------

// The attributes a type library lends out, handed back to it when they go. The
// library must outlive the owner.
class UniqueTypeLibAttr {
public:
    explicit UniqueTypeLibAttr(ITypeLib* library) noexcept : library_(library) {}
    UniqueTypeLibAttr(const UniqueTypeLibAttr&) = delete;
    UniqueTypeLibAttr& operator=(const UniqueTypeLibAttr&) = delete;
    ~UniqueTypeLibAttr() { Reset(); }

    const TLIBATTR* operator->() const noexcept { return attr_; }
    void Reset() noexcept {
        if (TLIBATTR* attr = std::exchange(attr_, nullptr)) library_->ReleaseTLibAttr(attr);
    }
    TLIBATTR** Put() noexcept {
        Reset();
        return &attr_;
    }

private:
    ITypeLib* library_;
    TLIBATTR* attr_ = nullptr;
};

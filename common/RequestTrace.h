#pragma once
// The road of one request, told step by step to an optional observer. The
// diagnosis tools listen; inside the host nobody does, and a step then costs
// one test of a thread's pointer. The same context carries the read-only
// policy: a request that must change nothing (no user key, folder or cache
// file created, no empty storage removed) tells the observer what it would
// change instead, and otherwise walks the same road.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/CString.h"

struct IdentityText;
struct ItemCacheLocation;
struct ItemObject;
struct RecordView;
struct RegisteredView;
struct ViewIdentities;
enum class DataFolderBase;

class RequestObserver {
public:
    virtual ~RequestObserver() = default;

    // The item path split into what the lookup needs; result is the split's.
    virtual void ItemPath(int drive, bool marker, const CString& viewRoot, const CString& itemName, HRESULT result) {}
    // A folder's desktop.ini: found is what its attribute query said; kept,
    // that the identities were kept from an earlier read of the unchanged file.
    virtual void DesktopIni(const CString& folder, const CString& iniPath, bool found, const IdentityText& view,
                            const IdentityText& vault, bool kept) {}
    // Every registration subkey in listing order, with "ShellRoot" as read;
    // kept: from an earlier read of the unchanged registry.
    virtual void Registrations(const std::vector<RegisteredView>& registrations, bool kept) {}
    // A registered view the lookup examined (registrations[index]), its root as
    // used now and that root's identities; taken: the vault's view, which ends
    // the lookup.
    virtual void ViewExamined(std::size_t index, const CString& root, const ViewIdentities& ids, bool taken) {}
    virtual void DataFolder(DataFolderBase source, const CString& base, const CString& folder, bool existed,
                            bool kept) {}
    virtual void CacheLocation(const ItemCacheLocation& location) {}
    virtual void CacheLock(bool held, DWORD waitMs) {}
    virtual void CacheOpen(bool existed, HRESULT result) {}
    // One record stream: its key, the names its split gives, what opening it
    // answered and the bytes read.
    virtual void RecordStream(bool children, const CString& key, const std::vector<CString>& storages,
                              const CString& stream, HRESULT openResult, std::size_t bytes) {}
    virtual void ItemRecord(std::span<const std::byte> bytes, const ItemObject& item, HRESULT result) {}
    virtual void Child(const RecordView& child, bool shown) {}
    virtual void ChildList(HRESULT result) {}
    // What a read-only request would have created or removed.
    virtual void WouldChange(const CString& what) {}
};

struct RequestContext {
    RequestObserver* observer = nullptr;
    bool readOnly = false;
};

namespace request_detail {
// The thread's context lives in a TLS slot that the process takes on its first
// observed request (only the diagnosis tools make one); a module that never
// observes takes none. Each module has its own slot; the plug-in's entry point
// gives its slot back when it unloads.
inline std::atomic<DWORD> slot{TLS_OUT_OF_INDEXES};

inline const RequestContext* Current() noexcept {
    const DWORD index = slot.load(std::memory_order_acquire);
    if (index == TLS_OUT_OF_INDEXES) return nullptr;
    // TlsGetValue clears the thread's last error, which callers may be about to read.
    const DWORD error = GetLastError();
    const auto* context = static_cast<const RequestContext*>(TlsGetValue(index));
    SetLastError(error);
    return context;
}

// The slot, taken when the process has none yet; TLS_OUT_OF_INDEXES when none can be had.
inline DWORD TakeSlot() noexcept {
    DWORD index = slot.load(std::memory_order_acquire);
    if (index != TLS_OUT_OF_INDEXES) return index;
    const DWORD taken = TlsAlloc();
    if (taken == TLS_OUT_OF_INDEXES) return taken;
    if (slot.compare_exchange_strong(index, taken, std::memory_order_acq_rel)) return taken;
    TlsFree(taken);  // another thread took one first
    return index;
}
}  // namespace request_detail

// Gives the module's slot back: when the module unloads, after its last request.
inline void ReleaseRequestSlot() noexcept {
    const DWORD index = request_detail::slot.exchange(TLS_OUT_OF_INDEXES);
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
}

// The observer of the request running on this thread; null inside the host.
inline RequestObserver* Observer() noexcept {
    const RequestContext* context = request_detail::Current();
    return context ? context->observer : nullptr;
}
// True when the request on this thread must change nothing.
inline bool ReadOnlyRequest() noexcept {
    const RequestContext* context = request_detail::Current();
    return context && context->readOnly;
}

// Runs what follows on this thread under context, until it goes. Without a
// slot (the process has none left) the request runs unobserved.
class ScopedRequest {
public:
    explicit ScopedRequest(const RequestContext& context) noexcept
        : index_(request_detail::TakeSlot()), previous_(request_detail::Current()) {
        if (index_ != TLS_OUT_OF_INDEXES) TlsSetValue(index_, const_cast<RequestContext*>(&context));
    }
    ScopedRequest(const ScopedRequest&) = delete;
    ScopedRequest& operator=(const ScopedRequest&) = delete;
    ~ScopedRequest() {
        if (index_ != TLS_OUT_OF_INDEXES) TlsSetValue(index_, const_cast<RequestContext*>(previous_));
    }

private:
    DWORD index_;
    const RequestContext* previous_;
};

// A read-only request: says what it would change, or does the change.
inline bool ShouldChange(const CString& what) {
    if (!ReadOnlyRequest()) return true;
    if (RequestObserver* observer = Observer()) observer->WouldChange(what);
    return false;
}

#pragma once
// The road of one request, told step by step to an optional observer. The
// diagnosis tools listen; inside the host nobody does, and a step then costs
// one test of a thread's pointer. Each step names the host call it belongs to
// and, where the road chose, why. Beside the observer the request may carry a
// read-only policy: a request that must change nothing (no user key, folder or
// cache file created, no empty storage removed) records what it would change
// instead, and otherwise walks the same road.
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

// The host call whose road a step is on.
enum class RequestCall { None, CreateNavigator, GetReferences, GetProperty };

// Why the lookup took a registered view or passed it over.
enum class ViewReason {
    Taken,          // the first registered view of the item's vault: its name names the cache folder
    OtherVault,     // a view of another vault
    NoViewId,       // its root's desktop.ini has no valid "ViewID"
    NoVaultId,      // its root's desktop.ini has no valid "VaultID"
    NoFolder,       // its "ShellRoot" gives no folder (not a string, or empty)
    NoShellRoot,    // the registration has no "ShellRoot" value
    Unopenable,     // the registration cannot be opened
    NotExamined,    // the lookup ended at an earlier view of the vault
};

class RequestObserver {
public:
    virtual ~RequestObserver() = default;

    // The item path split into what the lookup needs; result is the split's.
    virtual void ItemPath(RequestCall call, int drive, bool marker, const CString& viewRoot, const CString& itemName,
                          HRESULT result) {}
    // A folder's desktop.ini: found is what its attribute query said; kept,
    // that the identities were kept from an earlier read of the unchanged file.
    virtual void DesktopIni(RequestCall call, const CString& folder, const CString& iniPath, bool found,
                            const IdentityText& view, const IdentityText& vault, bool kept) {}
    // Every registration subkey in listing order, with "ShellRoot" as read;
    // kept: from an earlier read of the unchanged registry.
    virtual void Registrations(RequestCall call, const std::vector<RegisteredView>& registrations, bool kept) {}
    // What the lookup made of registrations[index], each once, in listing
    // order. root and ids are what it found there when it examined the view
    // (its root as used now and that root's identities), else null.
    virtual void ViewChosen(RequestCall call, std::size_t index, ViewReason reason, const CString* root,
                            const ViewIdentities* ids) {}
    virtual void DataFolder(RequestCall call, DataFolderBase source, const CString& base, const CString& folder,
                            bool existed, bool kept) {}
    virtual void CacheLocation(RequestCall call, const ItemCacheLocation& location) {}
    virtual void CacheLock(RequestCall call, bool held, DWORD waitMs) {}
    virtual void CacheOpen(RequestCall call, bool existed, HRESULT result) {}
    // One record stream: its key, the names its split gives, what opening it
    // answered and the bytes read.
    virtual void RecordStream(RequestCall call, bool children, const CString& key, const std::vector<CString>& storages,
                              const CString& stream, HRESULT openResult, std::size_t bytes) {}
    virtual void ItemRecord(RequestCall call, std::span<const std::byte> bytes, const ItemObject& item,
                            HRESULT result) {}
    virtual void Child(RequestCall call, const RecordView& child, bool shown) {}
    virtual void ChildList(RequestCall call, HRESULT result) {}
};

// What a read-only request would have created or removed, each once, in the
// order the road came to it.
class ReadOnlyPolicy {
public:
    void WouldChange(const CString& what) {
        for (const CString& known : changes_) {
            if (known == what) return;
        }
        changes_.push_back(what);
    }
    const std::vector<CString>& Changes() const noexcept { return changes_; }

private:
    std::vector<CString> changes_;
};

struct RequestContext {
    RequestObserver* observer = nullptr;
    ReadOnlyPolicy* readOnly = nullptr;  // null: the request changes what its road needs
    RequestCall call = RequestCall::None;
};

namespace request_detail {
// The thread's context lives in a TLS slot that the process takes on its first
// observed request (only the diagnosis tools make one); a module that never
// observes takes none. Each module has its own slot; the plug-in's entry point
// gives its slot back when it unloads.
inline std::atomic<DWORD> slot{TLS_OUT_OF_INDEXES};

inline RequestContext* Current() noexcept {
    const DWORD index = slot.load(std::memory_order_acquire);
    if (index == TLS_OUT_OF_INDEXES) return nullptr;
    // TlsGetValue clears the thread's last error, which callers may be about to read.
    const DWORD error = GetLastError();
    auto* context = static_cast<RequestContext*>(TlsGetValue(index));
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

// The observer of the request running on this thread and the call it is in;
// false inside the host. if (const RequestStep step = Observed()) step->...(step.call, ...)
struct RequestStep {
    RequestObserver* observer = nullptr;
    RequestCall call = RequestCall::None;
    explicit operator bool() const noexcept { return observer != nullptr; }
    RequestObserver* operator->() const noexcept { return observer; }
};
inline RequestStep Observed() noexcept {
    const RequestContext* context = request_detail::Current();
    return context ? RequestStep{context->observer, context->call} : RequestStep{};
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
    explicit ScopedRequest(RequestContext& context) noexcept
        : index_(request_detail::TakeSlot()), previous_(request_detail::Current()) {
        if (index_ != TLS_OUT_OF_INDEXES) TlsSetValue(index_, &context);
    }
    ScopedRequest(const ScopedRequest&) = delete;
    ScopedRequest& operator=(const ScopedRequest&) = delete;
    ~ScopedRequest() {
        if (index_ != TLS_OUT_OF_INDEXES) TlsSetValue(index_, previous_);
    }

private:
    DWORD index_;
    RequestContext* previous_;
};

// Names the host call that the steps told until it goes belong to. Costs a
// test of a thread's pointer in a request nobody observes.
class RequestCallScope {
public:
    explicit RequestCallScope(RequestCall call) noexcept : context_(request_detail::Current()) {
        if (!context_) return;
        previous_ = context_->call;
        context_->call = call;
    }
    RequestCallScope(const RequestCallScope&) = delete;
    RequestCallScope& operator=(const RequestCallScope&) = delete;
    ~RequestCallScope() {
        if (context_) context_->call = previous_;
    }

private:
    RequestContext* context_;
    RequestCall previous_ = RequestCall::None;
};

// A read-only request records what it would change; any other does the change.
inline bool ShouldChange(const CString& what) {
    const RequestContext* context = request_detail::Current();
    if (!context || !context->readOnly) return true;
    context->readOnly->WouldChange(what);
    return false;
}

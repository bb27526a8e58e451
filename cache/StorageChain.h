#pragma once
// StorageChain: the open compound file and the storages open along the path of
// the current element key. A key longer than 30 code units is split into nested
// storages; consecutive keys that share leading storages share them open. A
// storage left without elements is destroyed when the chain moves away from it
// or closes.
#include <objbase.h>

#include <memory>
#include <optional>
#include <vector>

#include "cache/KeySplit.h"
#include "common/CString.h"
#include "common/ComPtr.h"

struct OpenedStorage {
    CString name;
    ComPtr<IStorage> storage;
};

struct StoragePath {
    std::vector<CString> names;  // storage names of the key, outermost first
    CString leafName;            // name of the stream
    std::vector<std::unique_ptr<OpenedStorage>> opened;
    IStorage* current = nullptr;  // innermost opened storage, or the root
};

// Fills slot's names and leaf name from key by the split rule.
inline void SplitKey(const CString& key, StoragePath& slot) { SplitKey(key, slot.names, slot.leafName); }

// True when the storage holds no element at all: what the chain removes.
bool IsEmptyStorage(IStorage* storage) noexcept;

// Turns a storage failure into the cache's result codes.
HRESULT MapStorageResult(HRESULT hr) noexcept;

class StorageChain {
public:
    // Takes over the root storage of the open file; the chain is the file's one
    // owner. A read-only chain (a file opened without write access) removes no
    // empty storage but tells the request's observer it would.
    explicit StorageChain(ComPtr<IStorage> root, bool readOnly = false) noexcept
        : root_(std::move(root)), readOnly_(readOnly) {}
    StorageChain(const StorageChain&) = delete;
    StorageChain& operator=(const StorageChain&) = delete;
    // Closes the storages (removing empty ones), then the file.
    ~StorageChain() { CloseFrom(Active(), 0, root_.Get()); }

    // Opens the storages of key (creating missing ones when create is set) and
    // makes the active slot describe it. Non-negative on success.
    HRESULT OpenPath(const CString& key, bool create);

    // Releases slot's opened storages from the innermost back to position,
    // destroying those left empty; parent is the storage that holds
    // slot.opened[position] (the root for position 0).
    HRESULT CloseFrom(StoragePath& slot, size_t position, IStorage* parent) noexcept;

    // Opens the stream of key for reading, its storages through OpenPath, and
    // commits. S_OK, or the cache's result code of the failure.
    HRESULT OpenStream(const CString& key, ComPtr<IStream>& stream);

    // The open file, for callers that look at every element of it.
    IStorage* Root() const noexcept { return root_.Get(); }

    // Commits the root storage (direct mode: makes what was opened or written visible).
    HRESULT Commit() noexcept { return readOnly_ ? S_OK : root_->Commit(STGC_DEFAULT); }

    StoragePath& Active() noexcept { return slots_[active_]; }

private:
    HRESULT Destroy(IStorage* parent, const CString& name) noexcept;

    ComPtr<IStorage> root_;  // declared first: released after every storage in the slots
    bool readOnly_ = false;
    int active_ = 0;
    StoragePath slots_[2];
};

// Opens the existing compound file at path for direct access, without write
// access when readOnly; on success chain holds it. The storage's own result
// (STG_E_FILENOTFOUND when there is no file).
HRESULT OpenStorageFile(const CString& path, bool readOnly, std::optional<StorageChain>& chain);

#include "cache/StorageChain.h"

#include "common/HostResults.h"
#include "common/RequestTrace.h"
#include "common/Result.h"

bool IsEmptyStorage(IStorage* storage) noexcept {
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(storage->EnumElements(0, nullptr, 0, elements.Put()))) return false;
    return elements->Skip(1) == S_FALSE;
}

HRESULT MapStorageResult(HRESULT hr) noexcept {
    switch (hr) {
        case STG_E_FILENOTFOUND:
        case ITEM_E_NOTFOUND:
            return ITEM_E_NOTFOUND;
        case STG_E_INVALIDNAME:
        case ITEM_E_INVALIDNAME:
            return ITEM_E_INVALIDNAME;
        default:
            return FAILED(hr) ? ITEM_E_CACHEREAD : hr;
    }
}

HRESULT StorageChain::CloseFrom(StoragePath& slot, size_t position, IStorage* parent) noexcept {
    HRESULT result = S_FALSE;
    CString pending;
    for (size_t i = slot.opened.size(); i > position; --i) {
        OpenedStorage& opened = *slot.opened[i - 1];
        if (!pending.empty()) {
            // This storage holds the one found empty in the step before.
            const HRESULT hr = Destroy(opened.storage.Get(), pending);
            if (FAILED(hr)) {
                // Stop destroying, but still let go of everything below position.
                slot.opened.resize(position);
                return hr;
            }
            result = hr;
            pending.clear();
        }
        // The entry goes next: its name moves (which cannot fail) rather than copies.
        if (IsEmptyStorage(opened.storage.Get())) pending = std::move(opened.name);
        slot.opened.pop_back();
    }
    if (!pending.empty() && parent) result = Destroy(parent, pending);
    return result;
}

HRESULT StorageChain::Destroy(IStorage* parent, const CString& name) noexcept {
    if (!readOnly_) return parent->DestroyElement(name.c_str());
    try {
        ShouldChange(L"the empty storage \"" + name + L"\" (removed)");
    } catch (...) {
        // Diagnosis only: the road goes on as the plug-in's would.
    }
    return S_OK;
}

HRESULT StorageChain::OpenPath(const CString& key, bool create) {
    StoragePath& old = slots_[active_];
    StoragePath& next = slots_[1 - active_];
    next.opened.clear();
    SplitKey(key, next);

    // Keep the leading storages both keys share.
    size_t shared = 0;
    while (shared < old.opened.size() && shared < next.names.size() && old.opened[shared]->name == next.names[shared]) {
        ++shared;
    }
    IStorage* parent = shared ? old.opened[shared - 1]->storage.Get() : root_.Get();
    // Room for every storage of the key first, so that no move below can fail halfway.
    next.opened.reserve(next.names.size());
    for (size_t i = 0; i < shared; ++i) next.opened.push_back(std::move(old.opened[i]));
    next.current = parent;

    // The moved entries are null now; CloseFrom never reaches them.
    const HRESULT closed = CloseFrom(old, shared, parent);
    old.opened.clear();
    old.names.clear();
    old.leafName.clear();
    old.current = nullptr;
    active_ = 1 - active_;
    if (FAILED(closed)) return closed;

    HRESULT result = closed;
    for (size_t i = next.opened.size(); i < next.names.size(); ++i) {
        ComPtr<IStorage> storage;
        const DWORD access = readOnly_ ? STGM_READ : STGM_READWRITE;
        HRESULT hr = next.current->OpenStorage(next.names[i].c_str(), nullptr, access | STGM_SHARE_EXCLUSIVE, nullptr,
                                               0, storage.Put());
        if (hr == STG_E_FILENOTFOUND && create) {
            hr = next.current->CreateStorage(next.names[i].c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                             0, 0, storage.Put());
        }
        if (FAILED(hr)) return hr;
        next.opened.push_back(std::make_unique<OpenedStorage>(OpenedStorage{next.names[i], storage}));
        next.current = storage.Get();
        result = hr;
    }
    return result;
}

HRESULT StorageChain::OpenStream(const CString& key, ComPtr<IStream>& stream) {
    RETURN_IF_FAILED(MapStorageResult(OpenPath(key, false)));
    const StoragePath& slot = Active();
    RETURN_IF_FAILED(MapStorageResult(
        slot.current->OpenStream(slot.leafName.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put())));
    RETURN_IF_FAILED(MapStorageResult(Commit()));
    return S_OK;
}

HRESULT OpenStorageFile(const CString& path, bool readOnly, std::optional<StorageChain>& chain) {
    ComPtr<IStorage> root;
    const HRESULT opened = StgOpenStorageEx(path.c_str(), (readOnly ? STGM_READ : STGM_READWRITE) | STGM_SHARE_EXCLUSIVE,
                                            STGFMT_ANY, 0, nullptr, nullptr, IID_IStorage, root.PutVoid());
    if (SUCCEEDED(opened)) chain.emplace(std::move(root), readOnly);
    return opened;
}

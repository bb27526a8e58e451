#include "cache/ItemCacheFile.h"

#include <rpc.h>

#include "cache/ItemCacheLock.h"
#include "cache/ItemKeys.h"
#include "cache/RecordReader.h"
#include "cache/StorageChain.h"
#include "common/HostResults.h"
#include "settings/SettingsLight.h"

namespace {

constexpr wchar_t kDescriptionText[] = L"KESTRELMAR Enterprise Item Cache";
constexpr wchar_t kHeaderKey[] = L"headerstream";

// The GUID as 36 lowercase hex digits in groups, no braces; empty on failure.
CString GuidText(const GUID& guid) {
    RPC_WSTR text = nullptr;
    UUID uuid = guid;
    if (UuidToStringW(&uuid, &text) != RPC_S_OK || !text) return {};
    CString result(reinterpret_cast<const wchar_t*>(text));
    RpcStringFreeW(&text);
    return result.substr(0, 36);
}

// Releases the record stream of the active slot when a read ends, however it ends.
class RecordStreamCloser {
public:
    explicit RecordStreamCloser(ItemCacheLock& lock) noexcept : lock_(lock) {}
    RecordStreamCloser(const RecordStreamCloser&) = delete;
    RecordStreamCloser& operator=(const RecordStreamCloser&) = delete;
    ~RecordStreamCloser() {
        if (StorageChain* chain = lock_.Chain()) chain->Active().stream.Reset();
    }

private:
    ItemCacheLock& lock_;
};

}  // namespace

CItemCacheFile::CItemCacheFile(const GUID& vaultId) {
    SettingsLight settings;
    path_ = settings.GetPath(PathKind::AppDataDir) + L"Items";
    CreateDirectoryW(path_.c_str(), nullptr);

    CString viewName;
    settings.FindVaultName(vaultId, viewName);
    path_ += L'\\';
    path_ += viewName;
    CreateDirectoryW(path_.c_str(), nullptr);

    const CString version = std::to_wstring(kFormatVersion);
    path_ += L'\\';
    path_ += GuidText(vaultId);
    path_ += L"_vrsn_" + version + L".Items";
    description_ = kDescriptionText + version;
}

HRESULT CItemCacheFile::Open(ItemCacheLock& lock, std::int32_t /*mode: always direct read/write*/) {
    if (GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) return Create(lock);

    ComPtr<IStorage> root;
    const HRESULT hr = StgOpenStorageEx(path_.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_ANY, 0, nullptr,
                                        nullptr, IID_IStorage, root.PutVoid());
    if (FAILED(hr)) return MapStorageResult(hr);
    rootStorage_ = root;
    lock.SetChain(std::make_unique<StorageChain>(rootStorage_.Get()));
    return S_OK;
}

HRESULT CItemCacheFile::Create(ItemCacheLock& lock) {
    STGOPTIONS options{};
    options.usVersion = 1;
    options.reserved = 0;
    options.ulSectorSize = 4096;
    options.pwcsTemplateFile = nullptr;
    ComPtr<IStorage> root;
    HRESULT hr = StgCreateStorageEx(path_.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE,
                                    0, &options, nullptr, IID_IStorage, root.PutVoid());
    if (FAILED(hr)) return MapStorageResult(hr);
    rootStorage_ = root;
    lock.SetChain(std::make_unique<StorageChain>(rootStorage_.Get()));
    StorageChain& chain = *lock.Chain();

    hr = chain.OpenPath(kHeaderKey, true);
    StoragePath& slot = chain.Active();
    if (SUCCEEDED(hr)) {
        hr = slot.current->CreateStream(slot.leafName.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                        slot.stream.Put());
    }
    if (SUCCEEDED(hr)) hr = rootStorage_->Commit(STGC_DEFAULT);
    if (FAILED(hr)) return MapStorageResult(hr);

    // The header is written once and never read back; its result does not matter.
    ULONG written = 0;
    slot.stream->Write(description_.c_str(), static_cast<ULONG>((description_.size() + 1) * sizeof(wchar_t)), &written);
    slot.stream.Reset();
    return S_OK;
}

HRESULT CItemCacheFile::OpenRecordStream(ItemCacheLock& lock, const CString& key, IStream** stream) {
    *stream = nullptr;
    StorageChain* chain = lock.Chain();
    if (!rootStorage_ || !chain) return E_FAIL;

    HRESULT hr = chain->OpenPath(key, false);
    StoragePath& slot = chain->Active();
    if (SUCCEEDED(hr)) {
        hr = slot.current->OpenStream(slot.leafName.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                      slot.stream.Put());
        if (SUCCEEDED(hr)) hr = rootStorage_->Commit(STGC_DEFAULT);
    }
    if (FAILED(hr)) return MapStorageResult(hr);
    *stream = slot.stream.Get();
    return S_OK;
}

HRESULT CItemCacheFile::ReadItem(ItemCacheLock& lock, const CString& name, RefPtr<ItemObject>& item) {
    IStream* stream = nullptr;
    if (const HRESULT hr = OpenRecordStream(lock, ItemKey(name), &stream); FAILED(hr)) return hr;
    const RecordStreamCloser closer(lock);
    item = new ItemObject();
    return ReadRecord(stream, *item);
}

HRESULT CItemCacheFile::LookupItem(ItemCacheLock& lock, const CString& name, std::int32_t& timestampKind) {
    RefPtr<ItemObject> item;
    const HRESULT hr = ReadItem(lock, name, item);
    if (FAILED(hr)) return MapStorageResult(hr);
    timestampKind = item->timestampKind;
    return S_OK;
}

HRESULT CItemCacheFile::ReadChildren(ItemCacheLock& lock, const CString& name,
                                     std::vector<RefPtr<ChildWithLink>>& children) {
    IStream* stream = nullptr;
    if (const HRESULT hr = OpenRecordStream(lock, ChildrenKey(name), &stream); FAILED(hr)) return hr;
    const RecordStreamCloser closer(lock);
    return ReadChildList(stream, children);
}

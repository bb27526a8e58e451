#include "cache/ItemCacheFile.h"

#include "cache/CachePath.h"
#include "cache/ItemCacheLock.h"
#include "cache/ItemKeys.h"
#include "cache/RecordReader.h"
#include "common/HostResults.h"
#include "common/Result.h"
#include "common/UniqueResource.h"
#include "settings/SettingsLight.h"

namespace {

constexpr wchar_t kDescriptionText[] = L"KESTRELMAR Enterprise Item Cache";
constexpr wchar_t kHeaderKey[] = L"headerstream";

}  // namespace

CItemCacheFile::CItemCacheFile(const GUID& vaultId) {
    const CString version = std::to_wstring(kFormatVersion);
    description_ = kDescriptionText + version;

    SettingsLight settings;
    const CString dataFolder = settings.GetPath(PathKind::AppDataDir);
    // A relative path would put the cache wherever the host happens to run.
    if (dataFolder.empty()) return;

    CString viewName;
    settings.FindVaultName(vaultId, viewName);
    const ItemCacheLocation location = ItemCacheLocationFor(dataFolder, viewName, vaultId);
    CreateDirectoryW(location.itemsFolder.c_str(), nullptr);
    CreateDirectoryW(location.viewFolder.c_str(), nullptr);
    path_ = location.file;
}

HRESULT CItemCacheFile::Open(std::int32_t /*mode: always direct read/write*/, std::optional<StorageChain>& chain) {
    RETURN_HR_IF(ITEM_E_CACHEREAD, path_.empty());
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &attributes)) return Create(chain);
    fileBytes_ = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;

    ComPtr<IStorage> root;
    RETURN_IF_FAILED(MapStorageResult(StgOpenStorageEx(path_.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                                       STGFMT_ANY, 0, nullptr, nullptr, IID_IStorage,
                                                       root.PutVoid())));
    chain.emplace(std::move(root));
    return S_OK;
}

HRESULT CItemCacheFile::Create(std::optional<StorageChain>& chain) {
    STGOPTIONS options{};
    options.usVersion = 1;
    options.reserved = 0;
    options.ulSectorSize = 4096;
    options.pwcsTemplateFile = nullptr;
    ComPtr<IStorage> root;
    RETURN_IF_FAILED(MapStorageResult(StgCreateStorageEx(path_.c_str(),
                                                         STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                                         STGFMT_DOCFILE, 0, &options, nullptr, IID_IStorage,
                                                         root.PutVoid())));
    // From here on the file is open; a failure below leaves it so.
    chain.emplace(std::move(root));

    RETURN_IF_FAILED(MapStorageResult(chain->OpenPath(kHeaderKey, true)));
    const StoragePath& slot = chain->Active();
    ComPtr<IStream> header;
    RETURN_IF_FAILED(MapStorageResult(slot.current->CreateStream(
        slot.leafName.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, header.Put())));
    RETURN_IF_FAILED(MapStorageResult(chain->Commit()));

    // The header is written once and never read back; its result does not matter.
    ULONG written = 0;
    header->Write(description_.c_str(), static_cast<ULONG>((description_.size() + 1) * sizeof(wchar_t)), &written);
    return S_OK;
}

HRESULT CItemCacheFile::OpenRecordStream(ItemCacheLock& lock, const CString& key, ComPtr<IStream>& stream) {
    StorageChain* chain = lock.Chain();
    RETURN_HR_IF_NULL(E_FAIL, chain);

    RETURN_IF_FAILED(MapStorageResult(chain->OpenPath(key, false)));
    const StoragePath& slot = chain->Active();
    RETURN_IF_FAILED(MapStorageResult(
        slot.current->OpenStream(slot.leafName.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put())));
    RETURN_IF_FAILED(MapStorageResult(chain->Commit()));
    return S_OK;
}

HRESULT CItemCacheFile::ReadItem(ItemCacheLock& lock, const CString& name, RefPtr<ItemObject>& item) {
    ComPtr<IStream> stream;
    RETURN_IF_FAILED(OpenRecordStream(lock, ItemKey(name), stream));
    item = new ItemObject();
    return ReadRecord(stream.Get(), *item);
}

HRESULT CItemCacheFile::LookupItem(ItemCacheLock& lock, const CString& name, std::int32_t& timestampKind) {
    RefPtr<ItemObject> item;
    RETURN_IF_FAILED(MapStorageResult(ReadItem(lock, name, item)));
    timestampKind = item->timestampKind;
    return S_OK;
}

HRESULT CItemCacheFile::ReadChildren(ItemCacheLock& lock, const CString& name,
                                     std::vector<RefPtr<ChildWithLink>>& children) {
    ComPtr<IStream> stream;
    RETURN_IF_FAILED(OpenRecordStream(lock, ChildrenKey(name), stream));
    return ReadChildList(stream.Get(), static_cast<size_t>(fileBytes_), children);
}

HRESULT CItemCacheFile::ReadChildBytes(ItemCacheLock& lock, const CString& name, StreamBytes& bytes) {
    ComPtr<IStream> stream;
    RETURN_IF_FAILED(OpenRecordStream(lock, ChildrenKey(name), stream));
    return bytes.Read(stream.Get(), static_cast<size_t>(fileBytes_));
}

#include "cache/ItemCacheFile.h"

#include <algorithm>

#include "cache/CachePath.h"
#include "cache/ItemCacheLock.h"
#include "cache/ItemKeys.h"
#include "cache/RecordReader.h"
#include "common/CriticalSection.h"
#include "common/HostResults.h"
#include "common/RequestTrace.h"
#include "common/Result.h"
#include "common/UniqueResource.h"
#include "settings/SettingsLight.h"

namespace {

constexpr wchar_t kDescriptionText[] = L"KESTRELMAR Enterprise Item Cache";

// The cache folders that requests of this process created or found, so that
// later requests need not create them again.
class FolderSet {
public:
    bool Contains(const CString& folder) {
        SharedLock hold(lock_);
        return std::find(folders_.begin(), folders_.end(), folder) != folders_.end();
    }
    void Add(const CString& folder) {
        ExclusiveLock hold(lock_);
        if (folders_.size() >= kMaxFolders) folders_.clear();
        folders_.push_back(folder);
    }

private:
    static constexpr size_t kMaxFolders = 64;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<CString> folders_;
};

bool FolderExists(const CString& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Built when the module loads, without a guard of the thread runtime's.
FolderSet g_knownFolders;

}  // namespace

CItemCacheFile::CItemCacheFile(const GUID& vaultId, std::optional<bool> processCaches)
    : vaultId_(vaultId), processCaches_(processCaches) {
    description_ = kDescriptionText + std::to_wstring(kFormatVersion);
    FormPath(false);
}

void CItemCacheFile::FormPath(bool fresh) {
    path_.clear();
    if (fresh) ForgetDataFolder();
    SettingsLight settings;
    if (processCaches_) settings.SetProcessCaches(*processCaches_);
    // A folder gone since it was found shows when the file cannot be made in it.
    const CString dataFolder = fresh ? settings.GetPath(PathKind::AppDataDir) : settings.CacheDataFolder();
    // What one user found is no answer for another.
    const bool shared = settings.UsesProcessCaches();
    // A relative path would put the cache wherever the host happens to run.
    if (dataFolder.empty()) return;

    CString viewName;
    settings.FindVaultName(vaultId_, viewName);
    const ItemCacheLocation location = ItemCacheLocationFor(dataFolder, viewName, vaultId_);
    if (const RequestStep step = Observed()) step->CacheLocation(step.call, location);
    // A read-only request says what the plug-in would make, whatever this process found before.
    if (fresh || !shared || ReadOnlyRequest() || !g_knownFolders.Contains(location.viewFolder)) {
        if (ReadOnlyRequest()) {
            for (const CString* folder : {&location.itemsFolder, &location.viewFolder}) {
                if (!FolderExists(*folder)) ShouldChange(*folder);
            }
        } else {
            CreateDirectoryW(location.itemsFolder.c_str(), nullptr);
            if ((CreateDirectoryW(location.viewFolder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) &&
                shared) {
                g_knownFolders.Add(location.viewFolder);
            }
        }
    }
    path_ = location.file;
}

HRESULT CItemCacheFile::Open(std::int32_t /*mode: always direct read/write*/, std::optional<StorageChain>& chain) {
    const HRESULT hr = OpenFile(chain);
    if (const RequestStep step = Observed()) step->CacheOpen(step.call, existed_, hr);
    return hr;
}

HRESULT CItemCacheFile::OpenFile(std::optional<StorageChain>& chain) {
    existed_ = false;
    fileBytes_.reset();
    RETURN_HR_IF(ITEM_E_CACHEREAD, path_.empty());
    // A read-only request opens the file without write access (the cache
    // lock still keeps every other user out).
    const bool readOnly = ReadOnlyRequest();
    // Opened first and created only where the open found nothing, never
    // replacing a file: one that appears between the two (made by a writer the
    // lock does not reach, in another session) is opened on the second round.
    for (int round = 0; round < 2; ++round) {
        const HRESULT opened = OpenStorageFile(path_, readOnly, chain);
        if (SUCCEEDED(opened)) {
            existed_ = true;
            return S_OK;
        }
        if (opened != STG_E_FILENOTFOUND && opened != STG_E_PATHNOTFOUND) return MapStorageResult(opened);
        const HRESULT created = Create(chain);
        if (created != STG_E_FILEALREADYEXISTS) {
            fileBytes_ = 0;  // a new file holds no list
            return created;
        }
    }
    return ITEM_E_CACHEREAD;
}

ULONGLONG CItemCacheFile::FileBytes() noexcept {
    // No stream holds more than the file it lies in; a file whose size cannot
    // be had bounds nothing beyond what its streams say. Asked only by a read
    // that needs it (a children list), once per open.
    if (fileBytes_) return *fileBytes_;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    fileBytes_ = GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &attributes)
                     ? (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow
                     : ~0ULL;
    return *fileBytes_;
}

void CItemCacheFile::Relocate() { FormPath(true); }

HRESULT CItemCacheFile::CreateStorage(ComPtr<IStorage>& root) {
    if (!ShouldChange(path_ + L" (an empty cache: its header stream only)")) {
        // A read-only request builds the new file in memory and reads on as
        // the plug-in would from the file it creates.
        ComPtr<ILockBytes> memory;
        RETURN_IF_FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, memory.Put()));
        return StgCreateDocfileOnILockBytes(memory.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                            root.Put());
    }
    STGOPTIONS options{};
    options.usVersion = 1;
    options.reserved = 0;
    options.ulSectorSize = 4096;
    options.pwcsTemplateFile = nullptr;
    // STGM_FAILIFTHERE: a file that is there is never replaced.
    return StgCreateStorageEx(path_.c_str(), STGM_FAILIFTHERE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0,
                              &options, nullptr, IID_IStorage, root.PutVoid());
}

HRESULT CItemCacheFile::Create(std::optional<StorageChain>& chain) {
    ComPtr<IStorage> root;
    const HRESULT hr = CreateStorage(root);
    // Made by someone else since the open found nothing: the caller opens it.
    if (hr == STG_E_FILEALREADYEXISTS) return hr;
    // A folder this process knew was there has gone: the caller looks
    // everything up afresh, outside the cache lock, and opens again.
    if (FAILED(hr) && !FolderExists(path_.substr(0, path_.find_last_of(L'\\')))) return kFolderGone;
    RETURN_IF_FAILED(MapStorageResult(hr));
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
    return chain->OpenStream(key, stream);
}

template <class Bytes>
HRESULT CItemCacheFile::ReadRecordStream(ItemCacheLock& lock, const CString& key, bool children, Bytes& bytes) {
    ComPtr<IStream> stream;
    HRESULT hr = OpenRecordStream(lock, key, stream);
    // The plug-in reads no more of an item stream than one record can take.
    if (SUCCEEDED(hr)) hr = bytes.Read(stream.Get(), children ? static_cast<size_t>(FileBytes()) : kMaxRecordBytes);
    TellRecordStream(children, key, hr, bytes.Bytes());
    return hr;
}

HRESULT CItemCacheFile::OpenChildStream(ItemCacheLock& lock, const CString& name, ComPtr<IStream>& stream) {
    const HRESULT hr = OpenRecordStream(lock, ChildrenKey(name), stream);
    if (FAILED(hr)) TellChildStream(name, hr, 0);
    return hr;
}

void CItemCacheFile::TellRecordStream(bool children, const CString& key, HRESULT result, size_t bytes) const {
    const RequestStep step = Observed();
    if (!step) return;
    StoragePath split;
    SplitKey(key, split);
    step->RecordStream(step.call, children, key, split.names, split.leafName, result, bytes);
}

void CItemCacheFile::TellChildStream(const CString& name, HRESULT result, size_t bytes) const {
    if (Observed()) TellRecordStream(true, ChildrenKey(name), result, bytes);
}

HRESULT CItemCacheFile::ReadItem(ItemCacheLock& lock, const CString& name, RefPtr<ItemObject>& item) {
    StreamBytes bytes;
    RETURN_IF_FAILED(ReadRecordStream(lock, ItemKey(name), false, bytes));
    item = new ItemObject();
    RecordCursor cursor(bytes.View());
    const HRESULT hr = ParseRecord(cursor, *item);
    if (const RequestStep step = Observed()) step->ItemRecord(step.call, bytes.View(), *item, hr);
    return hr;
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
    return ReadChildList(stream.Get(), static_cast<size_t>(FileBytes()), children);
}

HRESULT CItemCacheFile::ReadChildBytes(ItemCacheLock& lock, const CString& name, StreamBytes& bytes) {
    return ReadRecordStream(lock, ChildrenKey(name), true, bytes);
}

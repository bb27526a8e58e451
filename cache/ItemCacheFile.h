#pragma once
// CItemCacheFile: the item cache file of one vault, a compound file under the
// per-user data folder. It is used only through an ItemCacheLock, which holds
// the cross-process cache lock while the file is open.
#include <objbase.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "cache/ItemObject.h"
#include "cache/RecordReader.h"
#include "cache/RefObj.h"
#include "cache/RefPtr.h"
#include "cache/StorageChain.h"
#include "common/CString.h"
#include "common/ComPtr.h"

class ItemCacheLock;

class CItemCacheFile : public RefObj {
public:
    static constexpr int kFormatVersion = 1;

    // Computes the file's path for the vault and creates its folders. Without a
    // per-user data folder there is no place for the file: the path stays empty
    // and nothing is created.
    // processCaches: what the request found of the calling thread (false: it
    // acts for another user), so that it is asked once per request; without
    // it the file's settings ask.
    explicit CItemCacheFile(const GUID& vaultId, std::optional<bool> processCaches = std::nullopt);

    const CString& Path() const noexcept { return path_; }
    const CString& Description() const noexcept { return description_; }

    // Opens the file for direct read/write access, or, where there is none,
    // creates it holding only its header stream (never replacing one); on success (and after a failure inside a new file)
    // chain holds the open file. Called by the ItemCacheLock with its chain.
    // kFolderGone: the file could not be created because its folder has gone.
    HRESULT Open(std::int32_t mode, std::optional<StorageChain>& chain);
    static constexpr HRESULT kFolderGone = static_cast<HRESULT>(0x80070003);  // ERROR_PATH_NOT_FOUND
    // Looks the data folder and the vault's view name up afresh and creates the
    // cache's folders: after kFolderGone, with the cache lock given back.
    void Relocate();

    // The item record of the item with file name name.
    HRESULT ReadItem(ItemCacheLock& lock, const CString& name, RefPtr<ItemObject>& item);
    // Only the record's timestampKind; E_FAIL becomes 0x80040228.
    HRESULT LookupItem(ItemCacheLock& lock, const CString& name, std::int32_t& timestampKind);
    // Appends the item's children in stored order.
    HRESULT ReadChildren(ItemCacheLock& lock, const CString& name, std::vector<RefPtr<ChildWithLink>>& children);
    // The bytes of the item's children stream, for callers that parse it themselves.
    HRESULT ReadChildBytes(ItemCacheLock& lock, const CString& name, StreamBytes& bytes);
    // Hands parse(StreamCursor&) the item's children stream, read piece by
    // piece while it parses. The result of opening the stream, or parse's.
    template <class Parse>
    HRESULT ReadChildStream(ItemCacheLock& lock, const CString& name, Parse&& parse) {
        ComPtr<IStream> stream;
        if (const HRESULT hr = OpenChildStream(lock, name, stream); FAILED(hr)) return hr;
        StreamCursor cursor(stream.Get(), static_cast<size_t>(FileBytes()));
        TellChildStream(name, S_OK, cursor.Bytes());
        return parse(cursor);
    }

private:
    // Forms path_; creates the cache's folders unless a request of this
    // process already found them (fresh: always, after a fresh data folder lookup).
    void FormPath(bool fresh);
    HRESULT OpenFile(std::optional<StorageChain>& chain);
    ULONGLONG FileBytes() noexcept;
    HRESULT Create(std::optional<StorageChain>& chain);
    HRESULT CreateStorage(ComPtr<IStorage>& root);
    HRESULT OpenRecordStream(ItemCacheLock& lock, const CString& key, ComPtr<IStream>& stream);
    HRESULT OpenChildStream(ItemCacheLock& lock, const CString& name, ComPtr<IStream>& stream);
    // Tells the request's observer which stream was read, and how it went.
    void TellRecordStream(bool children, const CString& key, HRESULT result, size_t bytes) const;
    void TellChildStream(const CString& name, HRESULT result, size_t bytes) const;
    template <class Bytes>
    HRESULT ReadRecordStream(ItemCacheLock& lock, const CString& key, bool children, Bytes& bytes);

    GUID vaultId_;
    std::optional<bool> processCaches_;
    CString path_;
    CString description_;
    bool existed_ = false;     // the last open found the file
    std::optional<ULONGLONG> fileBytes_;  // the open file's size, once a read needed it
};

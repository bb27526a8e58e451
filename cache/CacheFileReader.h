#pragma once
// CacheFileReader: read-only access to an item cache file, for diagnosis. It
// takes the cache lock as the plug-in does, opens the file without write access
// and reads element keys through the plug-in's own split rule, result mapping
// and record readers. It never creates, destroys or writes an element, so a
// damaged file is seen as it is; the plug-in's StorageChain, which removes
// storages it leaves empty, is not used here.
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "cache/CacheMutex.h"
#include "cache/CompoundHeader.h"
#include "cache/RecordReader.h"
#include "common/CString.h"
#include "common/ComPtr.h"

// The fixed part of a compound file's header, read with a plain file read.
struct CompoundHeader : CompoundHeaderFields {
    // S_OK when all kBytes arrived; the Win32 error of opening or reading the
    // file; HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) when the file is shorter.
    HRESULT result = E_FAIL;
    DWORD bytesRead = 0;
};

// Reads the header of the file at path; opens it for reading only, shared.
CompoundHeader ReadCompoundHeader(const CString& path) noexcept;

// One element of the file's tree.
struct CacheElement {
    std::vector<CString> storages;  // names of the storages that hold it, outermost first
    CString name;
    DWORD type = 0;                  // STGTY_STREAM or STGTY_STORAGE
    ULONGLONG size = 0;              // bytes of a stream
    bool emptyStorage = false;       // a storage that holds no element
    HRESULT openResult = S_OK;       // a storage that could not be opened to look inside
};

class CacheFileReader {
public:
    struct Options {
        DWORD lockTimeoutMs = INFINITE;  // the plug-in waits without limit
    };

    // Waits for the cache lock, reads the header and opens the file read-only.
    // Nothing is created: a missing file stays missing.
    explicit CacheFileReader(const CString& path) : CacheFileReader(path, Options()) {}
    CacheFileReader(const CString& path, Options options);
    CacheFileReader(const CacheFileReader&) = delete;
    CacheFileReader& operator=(const CacheFileReader&) = delete;

    const CString& Path() const noexcept { return path_; }
    bool Exists() const noexcept { return exists_; }
    ULONGLONG FileBytes() const noexcept { return fileBytes_; }
    const CacheMutex& Lock() const noexcept { return *mutex_; }
    const CompoundHeader& Header() const noexcept { return header_; }
    // What opening the file returned: S_OK, or the storage's own failure
    // (STG_E_FILENOTFOUND for a missing file, a sharing violation, an invalid
    // header...). The plug-in would report MapStorageResult of it.
    HRESULT OpenResult() const noexcept { return openResult_; }
    bool IsOpen() const noexcept { return static_cast<bool>(root_); }

    // The bytes of the stream of an element key, found by the split rule.
    // S_OK, or MapStorageResult of the failure (0x80040213: the stream or a
    // storage on its path is missing); E_FAIL when the file is not open.
    HRESULT ReadKey(const CString& key, StreamBytes& bytes);

    // Visits every element, storages before what they hold, in the order the
    // file gives. Storages deeper than maxDepth are not entered (a damaged
    // directory can nest without end). E_FAIL when the file is not open.
    static constexpr size_t kMaxDepth = 64;
    HRESULT Walk(const std::function<void(const CacheElement&)>& visit, size_t maxDepth = kMaxDepth);

private:
    HRESULT WalkStorage(IStorage* storage, std::vector<CString>& names,
                        const std::function<void(const CacheElement&)>& visit, size_t maxDepth);

    CString path_;
    std::optional<CacheMutex> mutex_;  // released after the storage below is closed
    bool exists_ = false;
    ULONGLONG fileBytes_ = 0;
    CompoundHeader header_;
    HRESULT openResult_ = E_FAIL;
    ComPtr<IStorage> root_;
};

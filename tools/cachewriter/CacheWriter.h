#pragma once
// Writes item caches for tests, byte for byte in the stored layout and under the
// element names the item keys and the split rule give, both spelled here from
// the rules rather than taken from the plug-in. The plug-in itself never writes
// item data.
#include <objbase.h>

#include <string>
#include <vector>

#include "common/ComPtr.h"
#include "tools/cachewriter/StoredRecord.h"

// How a new file is laid out: the plug-in creates version 4 files with
// 4096-byte sectors; files of version 3 have 512-byte sectors.
enum class CacheLayout { Version4, Version3 };

class CacheWriter {
public:
    // Opens the compound file at path, creating it (with the cache's header
    // stream) when it does not exist.
    explicit CacheWriter(const std::wstring& path, CacheLayout layout = CacheLayout::Version4);
    CacheWriter(const CacheWriter&) = delete;
    CacheWriter& operator=(const CacheWriter&) = delete;

    // Writes a stream under an element key, creating the storages on its path.
    void WriteStream(const std::wstring& key, const Bytes& bytes);
    void WriteItem(const std::wstring& fileName, const StoredRecord& record);
    void WriteChildren(const std::wstring& fileName, const std::vector<StoredRecord>& children);
    // Creates the storages of key's path without the stream.
    void CreateStorages(const std::wstring& key);

    IStorage* Root() const { return root_.Get(); }
    // Closes the file now (also done by the destructor).
    void Close() { root_.Reset(); }

private:
    std::vector<ComPtr<IStorage>> OpenPath(const std::wstring& key, std::wstring& leaf);
    ComPtr<IStorage> root_;
};

// The element keys of an item's record and children streams, formed from its
// file name: the extension goes, "I" or "C" is added, reserved characters escaped.
std::wstring StoredItemKey(const std::wstring& fileName);
std::wstring StoredChildrenKey(const std::wstring& fileName);
// Element names of a key: storage names, then the stream name.
std::vector<std::wstring> ElementNames(const std::wstring& key);

// Reads a whole stream at a path of element names; false when it is missing.
bool ReadStreamAt(IStorage* root, const std::vector<std::wstring>& names, Bytes& out);
// Names of the elements directly inside a storage.
std::vector<std::wstring> ElementsOf(IStorage* storage);

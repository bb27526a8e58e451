#pragma once
// The benchmark's vault: one vault view registered for the current user, any
// number of other registered views listed before it, and an item cache holding
// three items with 0, 100 and 10,000 children.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct BenchItem {
    int children;
    std::wstring name;  // the file name without the item extension
    std::wstring FileName() const;
    // Storage names and the stream name of the item's children stream.
    std::vector<std::wstring> ChildrenElements() const;
};

// The three items, in the order of the table.
const std::vector<BenchItem>& BenchItems();

// The stored values of child i, which the answers are checked against.
std::wstring ChildName(int i);
std::wstring ChildPath(int i);
inline std::int32_t ChildItemType(int i) { return 1 + i % 2; }   // typeCode 4 or 5
inline std::int32_t ChildLinkType(int i) { return i % 2 ? 6 : 4; }  // linkCode 5 or 4
inline std::int32_t ChildRef(int i, int which) { return 1000 * which + i; }  // ref1 to ref4
// The item's date: a kind-1 timestamp on an even second, reported unchanged.
inline constexpr double kItemTimestamp = 45352.5;  // 2024-03-01 12:00:00

class BenchVault {
public:
    BenchVault();  // folders under the temporary folder
    BenchVault(const BenchVault&) = delete;
    BenchVault& operator=(const BenchVault&) = delete;

    // Registers the vault and writes its item cache. Throws on failure.
    void Create();
    // Makes exactly views registered views: the vault and views - 1 machine
    // registrations of other vaults, listed before it.
    void SetRegisteredViews(int views);
    // A second vault: the first other registered view's, with its own item
    // cache holding item (needs at least two registered views).
    void CreateSecondVault(const BenchItem& item);
    // Removes the registrations, the view roots and the cache files, and the
    // application keys when they did not exist before.
    void Remove() noexcept;

    const std::wstring& CacheFile() const { return cacheFile_; }
    // The cache file the plug-in finds for the vault with the views registered now.
    std::wstring CacheFileNow() const;
    std::wstring ItemPath(const BenchItem& item, bool secondVault = false) const;
    // The desktop.ini files a lookup of the vault's view name examines, in
    // listing order: the machine's other views, then the vault's own.
    std::vector<std::wstring> ExaminedIniFiles() const;

private:
    std::wstring base_, cacheFile_, secondCacheFile_;
    int fillers_ = 0;
    bool machineKeyExisted_ = true, userKeyExisted_ = true;
};

#include "tools/itembench/BenchVault.h"

#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "cache/ItemCacheFile.h"
#include "cache/ItemKeys.h"
#include "cache/KeySplit.h"
#include "cache/RefPtr.h"
#include "common/UniqueResource.h"
#include "settings/AppKey.h"
#include "settings/ViewIdentity.h"
#include "tools/cachewriter/CacheWriter.h"
#include "tools/cachewriter/VaultWriter.h"

namespace {

constexpr wchar_t kVaultName[] = L"Bench";
constexpr wchar_t kVaultId[] = L"{BE4C0001-2222-4333-8444-555555555555}";
constexpr wchar_t kViewId[] = L"{BE4C0002-2222-4333-8444-555555555555}";

bool KeyExists(HKEY root) {
    UniqueHKey key;
    return RegOpenKeyExW(root, kAppKeyPath, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::wstring FillerName(int i) {
    wchar_t name[32];
    swprintf(name, 32, L"Bench filler %03d", i);
    return name;
}

std::wstring FillerGuid(int i, int kind) {
    wchar_t text[40];
    swprintf(text, 40, L"{F111%04X-2222-4333-8444-%012X}", i, kind);
    return text;
}

std::wstring CacheFileOf(const wchar_t* vaultId) {
    GUID guid{};
    CLSIDFromString(vaultId, &guid);
    return RefPtr<CItemCacheFile>(new CItemCacheFile(guid))->Path();
}

// A fresh cache file holding the items and their children; the second vault's
// are only named, the benchmark's own carry every stored value.
std::wstring WriteCache(const wchar_t* vaultId, const std::vector<BenchItem>& items, bool dated) {
    const std::wstring file = CacheFileOf(vaultId);
    DeleteFileW(file.c_str());
    CacheWriter writer(file);
    for (const BenchItem& item : items) {
        StoredRecord record;
        record.name = item.name;
        if (dated) record.timestamp = kItemTimestamp, record.timestampKind = 1;
        writer.WriteItem(item.FileName(), record);
        std::vector<StoredRecord> children(item.children);
        for (int i = 0; i < item.children; ++i) {
            StoredRecord& child = children[i];
            child.name = ChildName(i);
            child.path = ChildPath(i);
            if (!dated) continue;
            child.itemType = ChildItemType(i);
            child.linkType = ChildLinkType(i);
            child.ref1 = ChildRef(i, 1), child.ref2 = ChildRef(i, 2), child.ref3 = ChildRef(i, 3);
            child.ref4 = ChildRef(i, 4);
            child.timestamp = kItemTimestamp;
        }
        writer.WriteChildren(item.FileName(), children);
    }
    return file;
}

}  // namespace

std::wstring BenchItem::FileName() const { return name + kItemExtension; }

const std::vector<BenchItem>& BenchItems() {
    static const std::vector<BenchItem> items{{0, L"Bench assembly with 0 children"},
                                              {100, L"Bench assembly with 100 children"},
                                              {10000, L"Bench assembly with 10000 children"}};
    return items;
}

std::wstring ChildName(int i) {
    wchar_t text[40];
    swprintf(text, 40, L"Bracket part %05d.prt", i);
    return text;
}

std::wstring ChildPath(int i) { return L"C:\\Vault\\Parts\\" + ChildName(i); }

BenchVault::BenchVault() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    base_ = std::wstring(temp) + L"ItemBench";
}

std::wstring BenchVault::ItemPath(const BenchItem& item, bool secondVault) const {
    return base_ + L"\\" + (secondVault ? FillerName(0) : L"Vault") + L"\\<items>\\" + item.FileName();
}

std::vector<std::wstring> BenchVault::ExaminedIniFiles() const {
    std::vector<std::wstring> files;
    for (int i = 0; i < fillers_; ++i) files.push_back(ViewIniPath(base_ + L"\\" + FillerName(i)));
    files.push_back(ViewIniPath(base_ + L"\\Vault"));
    return files;
}

std::vector<std::wstring> BenchItem::ChildrenElements() const {
    std::vector<std::wstring> names;
    std::wstring stream;
    SplitKey(ChildrenKey(FileName()), names, stream);
    names.push_back(stream);
    return names;
}

void BenchVault::Create() {
    machineKeyExisted_ = KeyExists(HKEY_LOCAL_MACHINE);
    userKeyExisted_ = KeyExists(HKEY_CURRENT_USER);
    // An installed product has its machine key; without it no view is found at all.
    RegisterVaultView(RegistrationPlace::Machine, {}, nullptr);
    WriteDesktopIni(base_ + L"\\Vault", kVaultId, kViewId, IniAge::DayOld);
    RegisterVaultView(RegistrationPlace::User, kVaultName, (base_ + L"\\Vault").c_str());
    cacheFile_ = WriteCache(kVaultId, BenchItems(), true);
}

void BenchVault::CreateSecondVault(const BenchItem& item) {
    if (fillers_ < 1) throw std::runtime_error("a second vault needs two registered views");
    secondCacheFile_ = WriteCache(FillerGuid(0, 1).c_str(), {item}, false);
}

void BenchVault::SetRegisteredViews(int views) {
    const int fillers = views - 1;
    for (int i = fillers_; i < fillers; ++i) {
        const std::wstring root = base_ + L"\\" + FillerName(i);
        WriteDesktopIni(root, FillerGuid(i, 1).c_str(), FillerGuid(i, 2).c_str(), IniAge::DayOld);
        RegisterVaultView(RegistrationPlace::Machine, FillerName(i), root.c_str());
    }
    for (int i = fillers; i < fillers_; ++i) UnregisterVaultView(RegistrationPlace::Machine, FillerName(i));
    fillers_ = fillers;
}

std::wstring BenchVault::CacheFileNow() const { return CacheFileOf(kVaultId); }

void BenchVault::Remove() noexcept {
    SetRegisteredViews(1);
    UnregisterVaultView(RegistrationPlace::User, kVaultName);
    if (!machineKeyExisted_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAppKeyPath);
    if (!userKeyExisted_) RegDeleteTreeW(HKEY_CURRENT_USER, kAppKeyPath);
    for (const std::wstring* file : {&cacheFile_, &secondCacheFile_}) {
        if (file->empty()) continue;
        DeleteFileW(file->c_str());
        RemoveDirectoryW(file->substr(0, file->rfind(L'\\')).c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
}

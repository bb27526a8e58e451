#include "tools/itembench/BenchVault.h"

#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "cache/ItemCacheFile.h"
#include "cache/RefPtr.h"
#include "common/UniqueResource.h"
#include "settings/AppKey.h"
#include "tools/cachewriter/CacheWriter.h"

namespace {

constexpr wchar_t kVaultName[] = L"Bench";
constexpr wchar_t kVaultId[] = L"{BE4C0001-2222-4333-8444-555555555555}";
constexpr wchar_t kViewId[] = L"{BE4C0002-2222-4333-8444-555555555555}";

std::wstring UserRegistration() { return std::wstring(kAppKeyPath) + L"\\Vaults\\" + kVaultName; }

bool KeyExists(HKEY root, const wchar_t* path) {
    UniqueHKey key;
    return RegOpenKeyExW(root, path, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::wstring FillerName(int i) {
    wchar_t name[32];
    swprintf(name, 32, L"Bench filler %03d", i);
    return name;
}

std::wstring MachineRegistration(int i) { return std::wstring(kAppKeyPath) + L"\\Databases\\" + FillerName(i); }

void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    UniqueHKey key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS ||
        RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot write a vault registration");
    }
}

void WriteDesktopIni(const std::wstring& folder, const std::wstring& vaultId, const std::wstring& viewId) {
    std::filesystem::create_directories(folder);
    const std::wstring ini = folder + L"\\desktop.ini";
    WritePrivateProfileStringW(L"Vondrik", L"VaultID", vaultId.c_str(), ini.c_str());
    WritePrivateProfileStringW(L"Vondrik", L"ViewID", viewId.c_str(), ini.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());
    // Written a day ago, as a view's identity is in practice: a file written
    // moments before it is read is read again until its write time has settled.
    UniqueFileHandle file(CreateFileW(ini.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER then{{now.dwLowDateTime, now.dwHighDateTime}};
    then.QuadPart -= 24ULL * 3600 * 10'000'000;
    const FILETIME dayAgo{then.LowPart, then.HighPart};
    if (!file || !SetFileTime(file.Get(), &dayAgo, nullptr, &dayAgo)) throw std::runtime_error("cannot date a desktop.ini");
}

std::wstring FillerGuid(int i, int kind) {
    wchar_t text[40];
    swprintf(text, 40, L"{F111%04X-2222-4333-8444-%012X}", i, kind);
    return text;
}

// Element names by the split rule: 30 code units and "F" per storage, the rest and "S".
std::vector<std::wstring> Split(const std::wstring& key) {
    std::vector<std::wstring> names;
    const size_t n = key.empty() ? 0 : 30 * ((key.size() - 1) / 30);
    for (size_t at = 0; at < n; at += 30) names.push_back(key.substr(at, 30) + L"F");
    names.push_back(key.substr(n) + L"S");
    return names;
}

// The names of the items have no reserved characters, so a key is the name
// without ".<item>" and the letter of the stream.
std::wstring Key(const BenchItem& item, wchar_t letter) {
    return item.fileName.substr(0, item.fileName.size() - 7) + letter;
}

}  // namespace

const std::vector<BenchItem>& BenchItems() {
    static const std::vector<BenchItem> items{{0, L"Bench assembly with 0 children.<item>"},
                                              {100, L"Bench assembly with 100 children.<item>"},
                                              {10000, L"Bench assembly with 10000 children.<item>"}};
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

std::wstring BenchVault::ItemPath(const BenchItem& item) const {
    return base_ + L"\\Vault\\<items>\\" + item.fileName;
}

std::vector<std::wstring> BenchVault::ExaminedIniFiles() const {
    std::vector<std::wstring> files;
    for (int i = 0; i < fillers_; ++i) files.push_back(base_ + L"\\" + FillerName(i) + L"\\desktop.ini");
    files.push_back(base_ + L"\\Vault\\desktop.ini");
    return files;
}

std::vector<std::wstring> BenchVault::ChildrenElements(const BenchItem& item) { return Split(Key(item, L'C')); }

void BenchVault::Create() {
    machineKeyExisted_ = KeyExists(HKEY_LOCAL_MACHINE, kAppKeyPath);
    userKeyExisted_ = KeyExists(HKEY_CURRENT_USER, kAppKeyPath);
    // An installed product has its machine key; without it no view is found at all.
    UniqueHKey databases;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kAppKeyPath) + L"\\Databases").c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, databases.Put(), nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create the machine registrations key");
    }
    WriteDesktopIni(base_ + L"\\Vault", kVaultId, kViewId);
    SetString(HKEY_CURRENT_USER, UserRegistration(), L"ShellRoot", base_ + L"\\Vault");

    cacheFile_ = CacheFileNow();
    DeleteFileW(cacheFile_.c_str());
    CacheWriter writer(cacheFile_);
    for (const BenchItem& item : BenchItems()) {
        StoredRecord record;
        record.name = item.fileName.substr(0, item.fileName.size() - 7);
        record.timestamp = kItemTimestamp;
        record.timestampKind = 1;
        writer.WriteItem(item.fileName, record);
        std::vector<StoredRecord> children(item.children);
        for (int i = 0; i < item.children; ++i) {
            StoredRecord& child = children[i];
            child.name = ChildName(i);
            child.path = ChildPath(i);
            child.itemType = ChildItemType(i);
            child.linkType = ChildLinkType(i);
            child.ref1 = ChildRef1(i), child.ref2 = 2000 + i, child.ref3 = 3000 + i, child.ref4 = 4000 + i;
            child.timestamp = kItemTimestamp;
        }
        writer.WriteChildren(item.fileName, children);
    }
}

void BenchVault::CreateSecondVault(const BenchItem& item) {
    if (fillers_ < 1) throw std::runtime_error("a second vault needs two registered views");
    GUID vaultId{};
    CLSIDFromString(FillerGuid(0, 1).c_str(), &vaultId);
    secondCacheFile_ = RefPtr<CItemCacheFile>(new CItemCacheFile(vaultId))->Path();
    DeleteFileW(secondCacheFile_.c_str());
    CacheWriter writer(secondCacheFile_);
    StoredRecord record;
    record.name = item.fileName.substr(0, item.fileName.size() - 7);
    writer.WriteItem(item.fileName, record);
    std::vector<StoredRecord> children(item.children);
    for (int i = 0; i < item.children; ++i) {
        children[i].name = ChildName(i);
        children[i].path = ChildPath(i);
    }
    writer.WriteChildren(item.fileName, children);
}

std::wstring BenchVault::SecondVaultItemPath(const BenchItem& item) const {
    return base_ + L"\\" + FillerName(0) + L"\\<items>\\" + item.fileName;
}

void BenchVault::SetRegisteredViews(int views) {
    const int fillers = views - 1;
    for (int i = fillers_; i < fillers; ++i) {
        const std::wstring root = base_ + L"\\" + FillerName(i);
        WriteDesktopIni(root, FillerGuid(i, 1), FillerGuid(i, 2));
        SetString(HKEY_LOCAL_MACHINE, MachineRegistration(i), L"ShellRoot", root);
    }
    for (int i = fillers; i < fillers_; ++i) RegDeleteTreeW(HKEY_LOCAL_MACHINE, MachineRegistration(i).c_str());
    fillers_ = fillers;
}

std::wstring BenchVault::CacheFileNow() const {
    GUID vaultId{};
    CLSIDFromString(kVaultId, &vaultId);
    RefPtr<CItemCacheFile> file(new CItemCacheFile(vaultId));
    return file->Path();
}

void BenchVault::Remove() noexcept {
    SetRegisteredViews(1);
    RegDeleteTreeW(HKEY_CURRENT_USER, UserRegistration().c_str());
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

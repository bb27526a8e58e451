// The item cache file: location, creation, and reading records and children.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "cache/ItemCacheFile.h"
#include "cache/ItemCacheLock.h"
#include "common/HostResults.h"
#include "common/UniqueResource.h"
#include "settings/SettingsLight.h"
#include "tests/support/CacheFixture.h"
#include "tests/support/VaultFixture.h"
#include "tools/cachewriter/FileBytes.h"

namespace {

using Children = std::vector<RefPtr<ChildWithLink>>;

Bytes ReadFileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class ItemCache : public CacheFixture {
protected:
    RefPtr<CItemCacheFile> NewFile() { return RefPtr<CItemCacheFile>(new CItemCacheFile(VaultId())); }

    HRESULT ReadItem(const std::wstring& fileName, RefPtr<ItemObject>& item) {
        auto file = NewFile();
        ItemCacheLock lock(file, 3);
        return file->ReadItem(lock, fileName, item);
    }
    HRESULT ReadChildren(const std::wstring& fileName, Children& children) {
        auto file = NewFile();
        ItemCacheLock lock(file, 3);
        return file->ReadChildren(lock, fileName, children);
    }
    HRESULT Lookup(const std::wstring& fileName, std::int32_t& kind) {
        auto file = NewFile();
        ItemCacheLock lock(file, 3);
        return file->LookupItem(lock, fileName, kind);
    }
};

TEST_F(ItemCache, FileLivesUnderTheViewNameWithTheLowercaseVaultId) {
    SettingsLight settings;
    const std::wstring expected = settings.GetPath(PathKind::AppDataDir) +
                                  L"Items\\Design\\abcdef01-2345-6789-abcd-ef0123456789_vrsn_1.Items";
    EXPECT_EQ(CachePath(), expected);
    EXPECT_NE(GetFileAttributesW((settings.GetPath(PathKind::AppDataDir) + L"Items\\Design").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(NewFile()->Description(), L"KESTRELMAR Enterprise Item Cache1");
}

TEST_F(ItemCache, FoldersThatVanishBetweenRequestsAreMadeAgain) {
    RefPtr<ItemObject> item;
    EXPECT_EQ(ReadItem(L"Bracket.<item>", item), ITEM_E_NOTFOUND);
    ASSERT_NE(GetFileAttributesW(CachePath().c_str()), INVALID_FILE_ATTRIBUTES);

    // The product's whole data folder goes while the process still knows its folders.
    const std::wstring dataFolder = SettingsLight().GetPath(PathKind::AppDataDir);
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(dataFolder), error);
    ASSERT_FALSE(error);
    ASSERT_EQ(GetFileAttributesW(dataFolder.c_str()), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(ReadItem(L"Bracket.<item>", item), ITEM_E_NOTFOUND) << "a new, empty cache";
    EXPECT_NE(GetFileAttributesW(CachePath().c_str()), INVALID_FILE_ATTRIBUTES);

    // The lock's result is that of the open after the folders were found again.
    std::filesystem::remove_all(std::filesystem::path(dataFolder), error);
    auto file = NewFile();
    const ItemCacheLock lock(file, 3);
    EXPECT_EQ(lock.OpenResult(), S_OK);
}

TEST_F(ItemCache, VaultWithoutRegisteredViewUsesTheItemsFolderItself) {
    RefPtr<CItemCacheFile> file(new CItemCacheFile(GuidFromString(L"{11111111-2222-3333-4444-555555555555}")));
    EXPECT_NE(file->Path().find(L"\\Items\\\\11111111-2222-3333-4444-555555555555_vrsn_1.Items"), std::wstring::npos);
}

TEST_F(ItemCache, NewFileHoldsOnlyTheHeaderStreamInFourKilobyteSectors) {
    RefPtr<ItemObject> item;
    EXPECT_EQ(ReadItem(L"Bracket.<item>", item), ITEM_E_NOTFOUND) << "a new cache holds no item";

    const Bytes file = ReadFileBytes(CachePath());
    ASSERT_GE(file.size(), 0x20u);
    EXPECT_EQ(file[0x1A] | file[0x1B] << 8, 4) << "major version 4";
    EXPECT_EQ(file[0x1E] | file[0x1F] << 8, 12) << "sector shift for 4096 bytes";

    CacheWriter writer(CachePath());
    EXPECT_EQ(ElementsOf(writer.Root()), std::vector<std::wstring>{L"headerstreamS"});
    Bytes header;
    ASSERT_TRUE(ReadStreamAt(writer.Root(), {L"headerstreamS"}, header));
    const std::wstring text = L"KESTRELMAR Enterprise Item Cache1";
    EXPECT_EQ(header.size(), 68u);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(header.data())), text);
}

TEST_F(ItemCache, ItemRecordIsReadFieldByField) {
    StoredRecord record;
    record.name = L"Bracket";
    record.path = L"C:\\Vault\\Parts\\Bracket.dat";
    record.ref1 = 1, record.ref2 = 2, record.ref3 = 3, record.ref4 = 4;
    record.linkType = 6, record.timestamp = 44000.25, record.timestampKind = 1;
    record.itemType = 2, record.state = 5, record.aux1 = 7, record.aux2 = 8;
    CacheWriter(CachePath()).WriteItem(L"Bracket.<item>", record);

    RefPtr<ItemObject> item;
    ASSERT_EQ(ReadItem(L"Bracket.<item>", item), S_OK);
    EXPECT_STREQ(item->name, L"Bracket");
    EXPECT_STREQ(item->path, L"C:\\Vault\\Parts\\Bracket.dat");
    EXPECT_EQ(item->ref1, 1);
    EXPECT_EQ(item->ref2, 2);
    EXPECT_EQ(item->ref3, 3);
    EXPECT_EQ(item->ref4, 4);
    EXPECT_EQ(item->linkType, 6);
    EXPECT_EQ(item->timestamp, 44000.25);
    EXPECT_EQ(item->timestampKind, 1);
    EXPECT_EQ(item->itemType, 2);
    EXPECT_EQ(item->state, 5);
    EXPECT_EQ(item->aux1, 7);
    EXPECT_EQ(item->aux2, 8);

    std::int32_t kind = -7;
    EXPECT_EQ(Lookup(L"Bracket.<item>", kind), S_OK);
    EXPECT_EQ(kind, 1);
}

TEST_F(ItemCache, ShortAndOldRecords) {
    CacheWriter writer(CachePath());
    StoredRecord oldRecord;
    oldRecord.recordVersion = 0;
    writer.WriteItem(L"Old.<item>", oldRecord);
    oldRecord.recordVersion = -5;
    writer.WriteItem(L"Negative.<item>", oldRecord);
    writer.WriteStream(StoredItemKey(L"Empty.<item>"), {});
    StoredRecord full;
    full.name = L"Cut";
    Bytes cut = full.Serialize();
    cut.resize(cut.size() - 2);
    writer.WriteStream(StoredItemKey(L"Cut.<item>"), cut);
    writer.Close();

    RefPtr<ItemObject> item;
    for (const wchar_t* name : {L"Old.<item>", L"Negative.<item>"}) {
        ASSERT_EQ(ReadItem(name, item), S_OK);
        EXPECT_EQ(item->timestamp, -1.0);
        EXPECT_EQ(item->timestampKind, 0);
        EXPECT_EQ(item->linkType, -1);
        std::int32_t kind = 9;
        EXPECT_EQ(Lookup(name, kind), S_OK);
        EXPECT_EQ(kind, 0);
    }
    EXPECT_EQ(ReadItem(L"Empty.<item>", item), ITEM_E_CACHEREAD);
    EXPECT_EQ(ReadItem(L"Cut.<item>", item), ITEM_E_CACHEREAD);
    EXPECT_STREQ(item->name, L"Cut") << "what was read before the failure stays";
    std::int32_t kind = 0;
    EXPECT_EQ(Lookup(L"Empty.<item>", kind), ITEM_E_CACHEREAD);
}

TEST_F(ItemCache, TextByteCountsNeverWritePastTheirFields) {
    CacheWriter writer(CachePath());
    StoredRecord threeChars;
    threeChars.name = L"abc";  // 6 bytes, no NUL stored
    writer.WriteItem(L"Three.<item>", threeChars);

    StoredRecord fullName;
    fullName.name = std::wstring(260, L'n');  // fills the field without a NUL
    fullName.path = std::wstring(520, L'p');
    writer.WriteItem(L"Full.<item>", fullName);

    struct Bad {
        const wchar_t* fileName;
        std::int32_t nameBytes, pathBytes;
    };
    const Bad bad[] = {{L"NameTooLong.<item>", 522, 0},
                       {L"PathTooLong.<item>", 0, 1042},
                       {L"NegativeName.<item>", -2, 0},
                       {L"NegativePath.<item>", 0, -1},
                       {L"Huge.<item>", 0x7fffffff, 0}};
    for (const Bad& b : bad) {
        StoredRecord record;
        record.name = std::wstring(600, L'x');
        record.nameBytes = b.nameBytes;
        record.pathBytes = b.pathBytes;
        writer.WriteItem(b.fileName, record);
    }
    writer.Close();

    RefPtr<ItemObject> item;
    ASSERT_EQ(ReadItem(L"Three.<item>", item), S_OK);
    EXPECT_STREQ(item->name, L"abc");
    ASSERT_EQ(ReadItem(L"Full.<item>", item), S_OK);
    EXPECT_EQ(std::wstring(item->name), fullName.name);
    EXPECT_EQ(std::wstring(item->path), fullName.path);
    for (const Bad& b : bad) EXPECT_EQ(ReadItem(b.fileName, item), ITEM_E_CACHEREAD) << b.fileName;
}

TEST_F(ItemCache, ChildrenListsInStoredOrder) {
    CacheWriter writer(CachePath());
    StoredRecord a, b;
    a.name = L"A";
    b.name = L"B";
    b.state = 3;
    writer.WriteChildren(L"Two.<item>", {a, b});
    writer.WriteChildren(L"None.<item>", {});
    StoredRecord v0;
    v0.recordVersion = 0;
    writer.WriteStream(StoredChildrenKey(L"Defaults.<item>"), ChildrenStream({v0, v0}));
    Bytes cutInThird = ChildrenStream({a, b, a});
    cutInThird.resize(cutInThird.size() - 10);
    writer.WriteStream(StoredChildrenKey(L"Cut.<item>"), cutInThird);
    writer.WriteStream(StoredChildrenKey(L"Boast.<item>"), ChildrenStream({a, b}, 4000000000u));
    writer.WriteStream(StoredChildrenKey(L"Stub.<item>"), Bytes{1, 2, 3, 4, 5});
    writer.WriteItem(L"Lonely.<item>", a);
    writer.Close();

    Children children;
    ASSERT_EQ(ReadChildren(L"Two.<item>", children), S_OK);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_STREQ(children[0]->name, L"A");
    EXPECT_STREQ(children[1]->name, L"B");
    EXPECT_EQ(children[1]->state, 3);

    children.clear();
    EXPECT_EQ(ReadChildren(L"None.<item>", children), S_OK);
    EXPECT_TRUE(children.empty());

    children.clear();
    ASSERT_EQ(ChildrenStream({v0, v0}).size(), 16u);
    ASSERT_EQ(ReadChildren(L"Defaults.<item>", children), S_OK);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0]->itemType, -1);
    EXPECT_EQ(children[0]->state, -1);
    EXPECT_EQ(children[0]->linkType, -1);
    EXPECT_STREQ(children[0]->name, L"");

    children.clear();
    EXPECT_EQ(ReadChildren(L"Cut.<item>", children), ITEM_E_CACHEREAD);
    EXPECT_EQ(children.size(), 2u);

    children.clear();
    EXPECT_EQ(ReadChildren(L"Boast.<item>", children), ITEM_E_CACHEREAD) << "a count far beyond the stream";
    EXPECT_EQ(children.size(), 2u);

    children.clear();
    EXPECT_EQ(ReadChildren(L"Stub.<item>", children), ITEM_E_CACHEREAD);

    children.clear();
    RefPtr<ItemObject> item;
    EXPECT_EQ(ReadItem(L"Lonely.<item>", item), S_OK);
    EXPECT_EQ(ReadChildren(L"Lonely.<item>", children), ITEM_E_NOTFOUND);
}

TEST_F(ItemCache, LongKeysAndReservedCharactersRoundTrip) {
    std::vector<std::wstring> names;
    for (size_t length : {29u, 30u, 59u, 60u, 64u, 300u}) {
        std::wstring base;
        for (size_t i = 0; i < length; ++i) base += static_cast<wchar_t>(L'A' + i % 26);
        names.push_back(base + L".<item>");  // keys of length + 1 code units
    }
    names.push_back(L"/%*:|!\n\r\t?\" and <more>.<item>");
    names.push_back(std::wstring(100, L'%') + L".<item>");
    {
        CacheWriter writer(CachePath());
        for (const auto& name : names) {
            StoredRecord record;
            record.name = name.substr(0, 200);
            record.timestampKind = static_cast<std::int32_t>(name.size());
            writer.WriteItem(name, record);
            writer.WriteChildren(name, {record, record});
        }
    }
    for (const auto& name : names) {
        std::int32_t kind = 0;
        EXPECT_EQ(Lookup(name, kind), S_OK) << name.size();
        EXPECT_EQ(kind, static_cast<std::int32_t>(name.size()));
        Children children;
        EXPECT_EQ(ReadChildren(name, children), S_OK);
        EXPECT_EQ(children.size(), 2u);
    }

    // Reading an item and then its children keeps the shared storages open;
    // several items under one lock exercise the chain's moves between keys.
    auto file = NewFile();
    ItemCacheLock lock(file, 3);
    for (int round = 0; round < 2; ++round) {
        for (const auto& name : names) {
            RefPtr<ItemObject> item;
            Children children;
            EXPECT_EQ(file->ReadItem(lock, name, item), S_OK);
            EXPECT_EQ(file->ReadChildren(lock, name, children), S_OK);
        }
    }
}

TEST_F(ItemCache, EmptyStorageOnTheWayToAMissingStreamIsRemoved) {
    const std::wstring fileName = std::wstring(45, L'q') + L".<item>";
    const std::wstring key = StoredItemKey(fileName);
    {
        CacheWriter writer(CachePath());
        writer.CreateStorages(key);
        ASSERT_EQ(ElementsOf(writer.Root()).size(), 2u);
    }
    RefPtr<ItemObject> item;
    EXPECT_EQ(ReadItem(fileName, item), ITEM_E_NOTFOUND);
    CacheWriter writer(CachePath());
    EXPECT_EQ(ElementsOf(writer.Root()), std::vector<std::wstring>{L"headerstreamS"});
}

TEST_F(ItemCache, StorageHoldingOtherElementsIsKept) {
    const std::wstring stored = std::wstring(40, L'q') + L".<item>";
    const std::wstring missing = std::wstring(30, L'q') + L"zzzzzzzzzz.<item>";
    CacheWriter(CachePath()).WriteItem(stored, StoredRecord{});
    RefPtr<ItemObject> item;
    EXPECT_EQ(ReadItem(missing, item), ITEM_E_NOTFOUND);
    EXPECT_EQ(ReadItem(stored, item), S_OK);
}

TEST_F(ItemCache, CacheHeldOpenElsewhereReadsAsNotOpen) {
    CacheWriter holder(CachePath());
    holder.WriteItem(L"Bracket.<item>", StoredRecord{});

    auto file = NewFile();
    ItemCacheLock lock(file, 3);
    EXPECT_EQ(lock.OpenResult(), ITEM_E_CACHEREAD) << "the lock keeps what its open answered";
    EXPECT_EQ(lock.Chain(), nullptr);
    std::optional<StorageChain> chain;
    EXPECT_EQ(file->Open(3, chain), ITEM_E_CACHEREAD);
    RefPtr<ItemObject> item;
    Children children;
    std::int32_t kind = 0;
    EXPECT_EQ(file->ReadItem(lock, L"Bracket.<item>", item), E_FAIL);
    EXPECT_EQ(file->ReadChildren(lock, L"Bracket.<item>", children), E_FAIL);
    EXPECT_EQ(file->LookupItem(lock, L"Bracket.<item>", kind), ITEM_E_CACHEREAD);
}

// A backup or antivirus client holding the file without sharing: the open
// fails, and nothing may take that for a missing file and make a new one.
TEST_F(ItemCache, CacheHeldWithoutSharingIsNeitherReadNorReplaced) {
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Bracket.<item>", StoredRecord{});
    }
    const Bytes stored = ReadFileBytes(CachePath());
    {
        UniqueFileHandle held(CreateFileW(CachePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        RefPtr<ItemObject> item;
        EXPECT_EQ(ReadItem(L"Bracket.<item>", item), E_FAIL);
        std::int32_t kind = 0;
        EXPECT_EQ(Lookup(L"Bracket.<item>", kind), ITEM_E_CACHEREAD);
    }
    EXPECT_EQ(ReadFileBytes(CachePath()), stored);
    RefPtr<ItemObject> item;
    EXPECT_EQ(ReadItem(L"Bracket.<item>", item), S_OK);
}

TEST_F(ItemCache, DamagedFilesAreReportedAndLeftAsTheyAre) {
    Bytes valid;
    {
        CacheWriter writer(CachePath());
        for (int i = 0; i < 40; ++i) writer.WriteItem(L"Item" + std::to_wstring(i) + L".<item>", StoredRecord{});
    }
    valid = ReadFileBytes(CachePath());
    ASSERT_GT(valid.size(), 4096u);

    // A file cut inside its sector chains is left out: the platform's storage
    // code can loop for ever on it, which no caller can prevent.
    Bytes garbage(8192);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 7 + 3);
    Bytes headerOnly(valid.begin(), valid.begin() + 512);
    const Bytes damaged[] = {Bytes{}, garbage, headerOnly};

    for (const Bytes& content : damaged) {
        WriteFileBytes(CachePath(), content.data(), content.size());
        RefPtr<ItemObject> item;
        const HRESULT hr = ReadItem(L"Item39.<item>", item);
        EXPECT_TRUE(hr == E_FAIL || hr == ITEM_E_CACHEREAD || hr == ITEM_E_NOTFOUND) << std::hex << hr;
        std::int32_t kind = 0;
        const HRESULT lookup = Lookup(L"Item39.<item>", kind);
        EXPECT_TRUE(lookup == ITEM_E_CACHEREAD || lookup == ITEM_E_NOTFOUND) << std::hex << lookup;
        EXPECT_EQ(ReadFileBytes(CachePath()), content) << "nothing is repaired or recreated";
    }
}

}  // namespace

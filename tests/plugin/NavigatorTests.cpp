// The item reference navigator, driven as the host drives it: a format object,
// CreateNavigator with an item path, then GetReferences through the vtable.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "common/ComPtr.h"
#include "common/HostResults.h"
#include "common/UniqueResource.h"
#include "module/ComObject.h"
#include "plugin/ItemFile.h"
#include "plugin/ItemFormat.h"
#include "plugin/ReferenceRecord.h"
#include "tests/support/CacheFixture.h"
#include "tests/support/MallocSpy.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/VaultFixture.h"
#include "tests/support/VtableCall.h"
#include "tools/cachewriter/FileBytes.h"

namespace {

constexpr int kGetReferences = 3;
constexpr int kSlot4 = 4;
constexpr int kSetOption = 19;
constexpr int kCreateNavigator = 5;
ReferenceRecord* const kUntouched = reinterpret_cast<ReferenceRecord*>(0x1234);

StoredRecord Child(const wchar_t* name, std::int32_t itemType, std::int32_t linkType, std::int32_t state = 0) {
    StoredRecord child;
    child.name = name;
    child.path = std::wstring(L"C:\\Vault\\Files\\") + name;
    child.itemType = itemType;
    child.linkType = linkType;
    child.state = state;
    return child;
}

std::int32_t Int32At(const ReferenceRecord& record, size_t offset) {
    std::int32_t value;
    std::memcpy(&value, reinterpret_cast<const char*>(&record) + offset, sizeof(value));
    return value;
}

class Navigator : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        ASSERT_EQ(CreateComInstance<CItemFormat>(nullptr, IID_IPlxFileFormat, format_.PutVoid()), S_OK);
    }

    HRESULT Create(const std::wstring& path, ComPtr<IPlxFileNavigator>& navigator) {
        UniqueBstr bstr(SysAllocString(path.c_str()));
        IPlxFileNavigator* out = nullptr;
        const HRESULT hr = CallSlot(format_.Get(), kCreateNavigator, bstr.Get(), LONG{0}, &out);
        navigator.Attach(out);
        return hr;
    }

    struct Listing {
        HRESULT hr;
        LONG count;
        ReferenceRecord* records;
        std::vector<std::wstring> names;
    };
    // GetReferences through slot 3, copied out and freed as the host frees it.
    Listing List(IPlxFileNavigator* navigator) {
        Listing listing{E_UNEXPECTED, -1, kUntouched, {}};
        listing.hr = CallSlot(navigator, kGetReferences, LONG{0}, &listing.count, &listing.records);
        if (listing.records != kUntouched) {
            for (LONG i = 0; i < listing.count; ++i) listing.names.push_back(listing.records[i].name);
            FreeReferenceRecords(listing.records, listing.count);
        }
        return listing;
    }

    // Every object the test made is gone: the module is unlocked again.
    void TearDown() override {
        format_.Reset();
        EXPECT_EQ(Module().LockCount(), 0);
        CacheFixture::TearDown();
    }

    ComPtr<IPlxFileFormat> format_;
};

TEST_F(Navigator, RecordsCarryTheMappedCodesAndNumbersInHostOrder) {
    StoredRecord first = Child(L"Drawing", 2, 6);
    first.ref1 = 101, first.ref2 = 102, first.ref3 = 103, first.ref4 = 104, first.state = 9;
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Bracket.<item>", StoredRecord{});
        writer.WriteChildren(L"Bracket.<item>", {first, Child(L"Other", 7, 1), Child(L"Part", 1, 4)});
    }
    ComPtr<IPlxFileNavigator> navigator;
    ASSERT_EQ(Create(ItemPath(L"Bracket.<item>"), navigator), S_OK);

    LONG count = -1;
    ReferenceRecord* records = nullptr;
    ASSERT_EQ(CallSlot(navigator.Get(), kGetReferences, LONG{0}, &count, &records), S_OK);
    ASSERT_EQ(count, 3);
    const ReferenceRecord& drawing = records[0];
    EXPECT_EQ(Int32At(drawing, 0), 20);
    EXPECT_EQ(Int32At(drawing, 4), 0);
    EXPECT_EQ(drawing.numbers->ref1, 101);
    const std::int32_t* numbers = reinterpret_cast<const std::int32_t*>(drawing.numbers);
    EXPECT_EQ((std::vector<std::int32_t>(numbers, numbers + 5)), (std::vector<std::int32_t>{101, 103, 102, 104, 9}));
    EXPECT_STREQ(drawing.name, L"Drawing");
    EXPECT_STREQ(drawing.path, L"C:\\Vault\\Files\\Drawing");
    EXPECT_EQ(SysStringLen(drawing.name), 7u);
    EXPECT_EQ(Int32At(drawing, 32), 5) << "linkType 6";
    EXPECT_EQ(Int32At(drawing, 36), 1);
    EXPECT_EQ(Int32At(drawing, 40), 0);
    EXPECT_EQ(Int32At(drawing, 44), 0);
    EXPECT_EQ(Int32At(drawing, 48), 5) << "itemType 2";
    for (size_t offset = 52; offset < 64; offset += 4) EXPECT_EQ(Int32At(drawing, offset), 0);
    EXPECT_EQ(Int32At(records[1], 32), 0) << "linkType 1";
    EXPECT_EQ(Int32At(records[1], 48), 1) << "itemType 7";
    EXPECT_EQ(Int32At(records[2], 32), 4) << "linkType 4";
    EXPECT_EQ(Int32At(records[2], 48), 4) << "itemType 1";
    FreeReferenceRecords(records, count);
}

TEST_F(Navigator, HiddenChildrenAndTheTypeThreeOption) {
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Bracket.<item>", StoredRecord{});
        writer.WriteChildren(L"Bracket.<item>", {Child(L"A", 1, 4), Child(L"Hidden", 1, 4, 3), Child(L"Type3", 3, 4),
                                                 Child(L"HiddenType3", 3, 4, 3), Child(L"B", 2, 6)});
    }
    ComPtr<IPlxFileNavigator> navigator;
    ASSERT_EQ(Create(ItemPath(L"Bracket.<item>"), navigator), S_OK);
    EXPECT_EQ(List(navigator.Get()).names, (std::vector<std::wstring>{L"A", L"Type3", L"B"}));
    EXPECT_EQ(CallSlot(navigator.Get(), kSetOption, LONG{2}), S_OK);
    EXPECT_EQ(CallSlot(navigator.Get(), kSetOption, LONG{0}), S_OK);
    EXPECT_EQ(List(navigator.Get()).names, (std::vector<std::wstring>{L"A", L"Type3", L"B"}));
    EXPECT_EQ(CallSlot(navigator.Get(), kSetOption, LONG{3}), S_OK);
    EXPECT_EQ(List(navigator.Get()).names, (std::vector<std::wstring>{L"A", L"B"}));
    EXPECT_EQ(CallSlot(navigator.Get(), kSetOption, LONG{0}), S_OK);
    EXPECT_EQ(List(navigator.Get()).names, (std::vector<std::wstring>{L"A", L"B"})) << "nothing clears the option";

    ComPtr<IPlxFileNavigator> fresh;
    ASSERT_EQ(Create(ItemPath(L"Bracket.<item>"), fresh), S_OK);
    EXPECT_EQ(List(fresh.Get()).names.size(), 3u) << "the option belongs to one navigator";
}

// A long list is read in blocks: records of every length, the 4-byte ones of
// version 0 among them, fall across block boundaries at every offset.
TEST_F(Navigator, LongListsComeWholeAndInStoredOrder) {
    std::vector<StoredRecord> children;
    std::vector<std::wstring> expected;
    for (int i = 0; i < 3000; ++i) {
        StoredRecord child = Child(L"", 1 + i % 2, 4, i % 7 == 3 ? 3 : 0);
        child.name = std::wstring(1 + (i * 37) % 259, static_cast<wchar_t>(L'a' + i % 26)) + std::to_wstring(i);
        child.name.resize(std::min<size_t>(child.name.size(), 259));
        if (i % 11 == 5) child.recordVersion = 0;  // a child with default values and no name
        children.push_back(child);
        if (child.recordVersion == 0) expected.push_back(L"");
        else if (child.state != 3) expected.push_back(child.name);
    }
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Long.<item>", StoredRecord{});
        writer.WriteChildren(L"Long.<item>", children);
        // A count beyond what the stream holds: the list is cut short, and damaged.
        writer.WriteItem(L"Counted.<item>", StoredRecord{});
        writer.WriteStream(StoredChildrenKey(L"Counted.<item>"),
                           ChildrenStream(std::vector<StoredRecord>(children.begin(), children.begin() + 500), 100000));
    }
    ComPtr<IPlxFileNavigator> navigator;
    ASSERT_EQ(Create(ItemPath(L"Long.<item>"), navigator), S_OK);
    const Listing listing = List(navigator.Get());
    EXPECT_EQ(listing.hr, S_OK);
    EXPECT_EQ(listing.names, expected);

    ASSERT_EQ(Create(ItemPath(L"Counted.<item>"), navigator), S_OK);
    const Listing counted = List(navigator.Get());
    EXPECT_EQ(counted.hr, S_OK);
    EXPECT_EQ(counted.count, 0) << "a damaged list gives the host no references";
}

TEST_F(Navigator, EmptyAndMissingChildrenLists) {
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Empty.<item>", StoredRecord{});
        writer.WriteChildren(L"Empty.<item>", {});
        writer.WriteItem(L"NoList.<item>", StoredRecord{});
        writer.WriteItem(L"AllHidden.<item>", StoredRecord{});
        writer.WriteChildren(L"AllHidden.<item>", {Child(L"H", 1, 4, 3)});
    }
    for (const wchar_t* name : {L"Empty.<item>", L"AllHidden.<item>"}) {
        ComPtr<IPlxFileNavigator> navigator;
        ASSERT_EQ(Create(ItemPath(name), navigator), S_OK);
        LONG count = -1;
        ReferenceRecord* records = kUntouched;
        EXPECT_EQ(CallSlot(navigator.Get(), kGetReferences, LONG{0}, &count, &records), S_OK);
        EXPECT_EQ(count, 0);
        EXPECT_NE(records, kUntouched) << "a zero-length block is handed over";
        EXPECT_NE(records, nullptr);
        CoTaskMemFree(records);
    }
    ComPtr<IPlxFileNavigator> navigator;
    ASSERT_EQ(Create(ItemPath(L"NoList.<item>"), navigator), S_OK);
    const Listing listing = List(navigator.Get());
    EXPECT_EQ(listing.hr, S_OK);
    EXPECT_EQ(listing.count, 0);
    EXPECT_EQ(listing.records, kUntouched);
}

// Without any per-user data folder there is no place for the cache: the request
// fails as a cache failure and nothing is created, least of all in the folder
// the host happens to run in.
TEST_F(Navigator, WithoutADataFolderNothingIsCreatedAnywhere) {
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Bracket.<item>", StoredRecord{});
        writer.WriteChildren(L"Bracket.<item>", {Child(L"Part", 1, 4)});
    }
    ComPtr<IPlxFileNavigator> navigator;
    ASSERT_EQ(Create(ItemPath(L"Bracket.<item>"), navigator), S_OK);

    const std::wstring shellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    RegistrySnapshot savedShellFolders{{{HKEY_CURRENT_USER, shellFolders, 0}}};
    // A folder below a file can be neither found nor created.
    WriteFileBytes(temp_ / L"file", "x", 1);
    for (const wchar_t* name : {L"Local AppData", L"AppData"}) {
        SetRegistryString(HKEY_CURRENT_USER, shellFolders, name, temp_ / (std::wstring(L"file\\") + name));
    }
    ScopedEnvironmentVariable noAppData(L"APPDATA", nullptr);
    const std::wstring hostFolder = temp_ / L"HostFolder";
    CreateDirectoryW(hostFolder.c_str(), nullptr);
    {
        ScopedCurrentDirectory inHostFolder(hostFolder);
        IPlxFileNavigator* sentinel = reinterpret_cast<IPlxFileNavigator*>(0x5678);
        UniqueBstr path(SysAllocString(ItemPath(L"Bracket.<item>").c_str()));
        EXPECT_EQ(CallSlot(format_.Get(), kCreateNavigator, path.Get(), LONG{0}, &sentinel), ITEM_E_CACHEREAD);
        EXPECT_EQ(sentinel, reinterpret_cast<IPlxFileNavigator*>(0x5678));

        // An unreadable list is no error for the host: no references.
        const Listing listing = List(navigator.Get());
        EXPECT_EQ(listing.hr, S_OK);
        EXPECT_EQ(listing.count, 0);
        EXPECT_EQ(listing.records, kUntouched);
    }
    EXPECT_TRUE(std::filesystem::is_empty(hostFolder)) << "nothing in the current directory";
    EXPECT_EQ(std::vector<std::filesystem::path>(std::filesystem::directory_iterator(temp_.Path()), {}).size(), 3u)
        << "the view root, the file and the host folder, nothing else";
}

TEST_F(Navigator, PathsThatAreNoItemPaths) {
    const std::wstring root = ViewRoot();
    WriteDesktopIni(temp_ / L"NoVault", nullptr, kTestViewId);
    const std::wstring paths[] = {
        L"",
        L"Vault\\<items>\\x.<item>",
        L"\\\\server\\share\\<items>\\x.<item>",
        root + L"<ITEMS>\\x.<item>",
        root + L"items\\x.<item>",
        temp_ / L"NoVault\\<items>\\x.<item>",
        temp_ / L"NoIniHere\\<items>\\x.<item>",
        std::wstring(L"C:\\") + std::wstring(40000, L'a') + L"\\<items>\\x.<item>",
    };
    for (const auto& path : paths) {
        ComPtr<IPlxFileNavigator> navigator;
        IPlxFileNavigator* sentinel = reinterpret_cast<IPlxFileNavigator*>(0x5678);
        UniqueBstr bstr(SysAllocString(path.c_str()));
        EXPECT_EQ(CallSlot(format_.Get(), kCreateNavigator, bstr.Get(), LONG{0}, &sentinel), ITEM_E_INVALIDNAME)
            << path.substr(0, 80).c_str();
        EXPECT_EQ(sentinel, reinterpret_cast<IPlxFileNavigator*>(0x5678));
    }
    IPlxFileNavigator* out = nullptr;
    EXPECT_EQ(CallSlot(format_.Get(), kCreateNavigator, static_cast<BSTR>(nullptr), LONG{0}, &out), ITEM_E_INVALIDNAME);
}

TEST_F(Navigator, ItemsMissingFromTheCache) {
    ComPtr<IPlxFileNavigator> navigator;
    EXPECT_EQ(Create(ItemPath(L"Bracket.<item>"), navigator), ITEM_E_NOTFOUND) << "new, empty cache";
    EXPECT_EQ(Create(ItemPath(L"Deep\\Bracket.<item>"), navigator), ITEM_E_NOTFOUND);
    EXPECT_EQ(Create(ItemPath(L""), navigator), ITEM_E_NOTFOUND) << "the empty name's keys are I and C";
}

TEST_F(Navigator, LongNamesPassThroughNestedStorages) {
    const std::wstring name = std::wstring(95, L'L') + L"!?.<item>";
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(name, StoredRecord{});
        writer.WriteChildren(name, {Child(L"Deep", 1, 4)});
    }
    ComPtr<IPlxFileNavigator> navigator;
    ASSERT_EQ(Create(ItemPath(name), navigator), S_OK);
    EXPECT_EQ(List(navigator.Get()).names, std::vector<std::wstring>{L"Deep"});
}

TEST_F(Navigator, NavigatorWithoutPathAndUnservedSlots) {
    ComPtr<IPlxFileNavigator> bare;
    ASSERT_EQ(CreateComInstance<CItemFile>(nullptr, IID_IPlxFileNavigator, bare.PutVoid()), S_OK);
    const Listing listing = List(bare.Get());
    EXPECT_EQ(listing.hr, ITEM_E_INVALIDNAME);
    EXPECT_EQ(listing.count, 0);
    EXPECT_EQ(listing.records, kUntouched);

    EXPECT_EQ(CallSlot(bare.Get(), kSlot4), S_OK);
    for (int slot = 5; slot <= 22; ++slot) {
        if (slot != kSetOption) {
            EXPECT_EQ(CallSlot(bare.Get(), slot), E_NOTIMPL) << slot;
        }
    }
    ReferenceRecord* records = kUntouched;
    EXPECT_EQ(CallSlot(bare.Get(), kGetReferences, LONG{0}, static_cast<LONG*>(nullptr), &records), E_POINTER);
    LONG count = 5;
    EXPECT_EQ(CallSlot(bare.Get(), kGetReferences, LONG{0}, &count, static_cast<ReferenceRecord**>(nullptr)), E_POINTER);
    EXPECT_EQ(count, 0);

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(bare->QueryInterface(IID_IItemFile, unknown.PutVoid()), S_OK);
    EXPECT_EQ(bare->QueryInterface(IID_IPlxFileFormat, unknown.PutVoid()), E_NOINTERFACE);
}

TEST_F(Navigator, OutOfMemoryGivesNoHalfFilledArrayAndLeaksNothing) {
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Bracket.<item>", StoredRecord{});
        writer.WriteChildren(L"Bracket.<item>", {Child(L"A", 1, 4), Child(L"B", 2, 6), Child(L"C", 5, 5)});
    }
    ComPtr<IPlxFileNavigator> navigator;
    ASSERT_EQ(Create(ItemPath(L"Bracket.<item>"), navigator), S_OK);

    MallocSpy spy;
    ASSERT_TRUE(spy.Registered());
    const long baseline = spy.LiveBlocks();
    const long before = spy.Allocations();
    ASSERT_EQ(List(navigator.Get()).names.size(), 3u);
    const long allocations = spy.Allocations() - before;

    // Fail each allocation of one listing in turn.
    int failures = 0;
    for (long n = 1; n <= allocations; ++n) {
        spy.FailAllocation(n);
        LONG count = -1;
        ReferenceRecord* records = kUntouched;
        const HRESULT hr = CallSlot(navigator.Get(), kGetReferences, LONG{0}, &count, &records);
        spy.FailAllocation(0);
        if (hr == S_OK) {
            if (records != kUntouched) FreeReferenceRecords(records, count);
        } else {
            ++failures;
            EXPECT_EQ(hr, E_OUTOFMEMORY) << n;
            EXPECT_EQ(count, 0);
            EXPECT_EQ(records, kUntouched) << "no half-filled array";
        }
        EXPECT_EQ(spy.LiveBlocks(), baseline) << n;
    }
    EXPECT_GE(failures, 4) << "the array and each numbers block come from the task allocator";
}

}  // namespace

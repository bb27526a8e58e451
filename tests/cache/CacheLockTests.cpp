// The cache lock across processes, and the cache file held open elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>

#include "cache/ItemCacheFile.h"
#include "cache/ItemCacheLock.h"
#include "common/HostResults.h"
#include "common/UniqueResource.h"
#include "tests/support/CacheFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestThread.h"
#include "tests/support/VaultFixture.h"

namespace {

constexpr DWORD kPatienceMs = 30000;

std::wstring EventName(const wchar_t* what) {
    return std::wstring(L"ItemPluginTest.") + what + L"." + std::to_wstring(GetCurrentProcessId());
}

UniqueHandle NewEvent(const std::wstring& name) { return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, name.c_str())); }

void SignalEvent(const std::wstring& name) {
    UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    if (event) SetEvent(event.Get());
}

bool WaitEvent(const std::wstring& name, DWORD ms) {
    UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
    return event && WaitForSingleObject(event.Get(), ms) == WAIT_OBJECT_0;
}

// Whether some owner holds the cache mutex, asked from a thread of its own (the
// caller's thread could take a mutex it owns again).
bool CacheMutexIsHeld() {
    bool held = false;
    TestThread([&held] {
        UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kItemCacheMutexName));
        if (!mutex) return;
        const DWORD wait = WaitForSingleObject(mutex.Get(), 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex.Get());
        held = wait == WAIT_TIMEOUT;
    }).join();
    return held;
}

// args: vault GUID, "held" event, "release" event.
ITEMPLUGIN_CHILD_MODE(HoldLock, L"hold-cache-lock") {
    RefPtr<CItemCacheFile> file(new CItemCacheFile(GuidFromString(args.at(0).c_str())));
    ItemCacheLock lock(file, 3);
    SignalEvent(args.at(1));
    return WaitEvent(args.at(2), kPatienceMs) ? 0 : 2;
}

// args: vault GUID, "held" event. Dies without letting the lock go.
ITEMPLUGIN_CHILD_MODE(DieHoldingLock, L"die-holding-cache-lock") {
    RefPtr<CItemCacheFile> file(new CItemCacheFile(GuidFromString(args.at(0).c_str())));
    auto* lock = new ItemCacheLock(file, 3);
    (void)lock;
    SignalEvent(args.at(1));
    TerminateProcess(GetCurrentProcess(), 7);
    return 7;
}

// args: cache file path, "held" event, "release" event. Opens the file without the lock.
ITEMPLUGIN_CHILD_MODE(HoldFile, L"hold-cache-file") {
    ComPtr<IStorage> root;
    if (FAILED(StgOpenStorageEx(args.at(0).c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_ANY, 0, nullptr,
                                nullptr, IID_IStorage, root.PutVoid()))) {
        return 3;
    }
    SignalEvent(args.at(1));
    return WaitEvent(args.at(2), kPatienceMs) ? 0 : 2;
}

class CacheLock : public CacheFixture {
protected:
    // Takes the lock on another thread and reads an item; done_ is set after.
    void StartReader() {
        reader_ = TestThread([this] {
            RefPtr<CItemCacheFile> file(new CItemCacheFile(VaultId()));
            ItemCacheLock lock(file, 3);
            RefPtr<ItemObject> item;
            readResult_ = file->ReadItem(lock, L"Bracket.<item>", item);
            done_ = true;
        });
    }
    bool WaitReader(DWORD ms) {
        for (DWORD waited = 0; !done_ && waited < ms; waited += 10) Sleep(10);
        return done_;
    }
    void TearDown() override {
        if (reader_.joinable()) {
            if (!WaitReader(kPatienceMs)) std::abort();  // a stuck reader cannot be joined
            reader_.join();
        }
        CacheFixture::TearDown();
    }

    TestThread reader_;
    std::atomic<bool> done_{false};
    std::atomic<HRESULT> readResult_{E_UNEXPECTED};
    const std::wstring held_ = EventName(L"held");
    const std::wstring release_ = EventName(L"release");
    UniqueHandle heldEvent_ = NewEvent(held_);
    UniqueHandle releaseEvent_ = NewEvent(release_);
};

TEST_F(CacheLock, SecondProcessWaitsUntilTheFirstLetsGo) {
    CacheWriter(CachePath()).WriteItem(L"Bracket.<item>", StoredRecord{});
    ChildProcess holder(L"hold-cache-lock", {kTestVaultId, held_, release_});
    ASSERT_EQ(WaitForSingleObject(heldEvent_.Get(), kPatienceMs), WAIT_OBJECT_0);

    StartReader();
    EXPECT_FALSE(WaitReader(500)) << "the reader must wait for the holder";
    SetEvent(releaseEvent_.Get());
    ASSERT_TRUE(WaitReader(kPatienceMs));
    EXPECT_EQ(readResult_.load(), S_OK);
    ASSERT_TRUE(holder.Wait(kPatienceMs));
    EXPECT_EQ(holder.ExitCode(), 0u);
}

TEST_F(CacheLock, ProcessThatDiedHoldingTheLockDoesNotBlockTheNext) {
    CacheWriter(CachePath()).WriteItem(L"Bracket.<item>", StoredRecord{});
    ChildProcess holder(L"die-holding-cache-lock", {kTestVaultId, held_});
    ASSERT_TRUE(holder.Wait(kPatienceMs));
    EXPECT_EQ(holder.ExitCode(), 7u);

    StartReader();
    ASSERT_TRUE(WaitReader(kPatienceMs));
    EXPECT_EQ(readResult_.load(), S_OK);
}

TEST_F(CacheLock, FileHeldOpenByAnotherProcessFailsWithoutWaiting) {
    CacheWriter(CachePath()).WriteItem(L"Bracket.<item>", StoredRecord{});
    ChildProcess holder(L"hold-cache-file", {CachePath(), held_, release_});
    ASSERT_EQ(WaitForSingleObject(heldEvent_.Get(), kPatienceMs), WAIT_OBJECT_0);

    StartReader();
    ASSERT_TRUE(WaitReader(kPatienceMs));
    EXPECT_EQ(readResult_.load(), E_FAIL);
    {
        RefPtr<CItemCacheFile> file(new CItemCacheFile(VaultId()));
        ItemCacheLock lock(file, 3);
        std::optional<StorageChain> chain;
        EXPECT_EQ(file->Open(3, chain), ITEM_E_CACHEREAD);
        EXPECT_FALSE(chain.has_value());
        std::int32_t kind = 0;
        EXPECT_EQ(file->LookupItem(lock, L"Bracket.<item>", kind), ITEM_E_CACHEREAD);
    }
    SetEvent(releaseEvent_.Get());
    ASSERT_TRUE(holder.Wait(kPatienceMs));
}

TEST_F(CacheLock, LocksOnThreadsOfOneProcessExcludeEachOther) {
    CacheWriter(CachePath()).WriteItem(L"Bracket.<item>", StoredRecord{});
    {
        RefPtr<CItemCacheFile> file(new CItemCacheFile(VaultId()));
        ItemCacheLock lock(file, 3);
        EXPECT_TRUE(CacheMutexIsHeld());
        StartReader();
        EXPECT_FALSE(WaitReader(300));
    }
    ASSERT_TRUE(WaitReader(kPatienceMs));
    EXPECT_EQ(readResult_.load(), S_OK);
    EXPECT_FALSE(CacheMutexIsHeld()) << "every lock gave the mutex back";
}

}  // namespace

// A host runs for days and unloads idle in-process servers (CoFreeUnusedLibraries)
// to load them again at the next request: whatever a load and a request take,
// the unload must give back, or the host runs out of it. Windows gives a process
// 1,088 TLS indexes; handles are counted by type, since GetProcessHandleCount
// answers 0 under Wine.
#include <gtest/gtest.h>
#include <winternl.h>

#include <map>
#include <string>
#include <vector>

#include "ItemPlugin.h"
#include "PlxHostInterfaces.h"
#include "common/ComPtr.h"
#include "common/UniqueResource.h"
#include "plugin/ReferenceRecord.h"
#include "tests/module/PluginDll.h"
#include "tests/support/CacheFixture.h"
#include "tests/support/MallocSpy.h"
#include "tests/support/TestThread.h"

namespace {

struct Census {
    int freeTlsIndexes = 0;
    std::map<std::wstring, int> handlesByType;
};

int FreeTlsIndexes() {
    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(index);
    for (DWORD index : taken) TlsFree(index);
    return static_cast<int>(taken.size());
}

using QueryObjectFn = LONG(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, void*, ULONG, ULONG*);

std::map<std::wstring, int> HandlesByType() {
    const auto query = reinterpret_cast<QueryObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    std::map<std::wstring, int> counts;
    if (!query) return counts;
    alignas(8) unsigned char buffer[1024];
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        ULONG returned = 0;
        if (query(reinterpret_cast<HANDLE>(value), ObjectTypeInformation, buffer, sizeof(buffer), &returned) < 0) {
            continue;
        }
        const auto* type = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer);
        ++counts[std::wstring(type->TypeName.Buffer, type->TypeName.Length / sizeof(wchar_t))];
    }
    return counts;
}

Census Take() { return {FreeTlsIndexes(), HandlesByType()}; }

std::string Describe(const Census& census) {
    std::string text = "free TLS indexes " + std::to_string(census.freeTlsIndexes) + ";";
    for (const auto& [type, count] : census.handlesByType) {
        text += " " + std::string(type.begin(), type.end()) + " " + std::to_string(count);
    }
    return text;
}

class PluginLifecycle : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Bracket.<item>", StoredRecord{});
        StoredRecord child;
        child.name = L"Bolt";
        child.path = L"C:\\Vault\\Bolt.part";
        writer.WriteChildren(L"Bracket.<item>", {child, child, child});
    }

    // Lists the references with the task allocator failing, allocation by
    // allocation, until the plug-in answers out of memory: an exception thrown
    // and caught inside the DLL, which sets up the runtime's thread storage.
    void ListOutOfMemory(IPlxFileNavigator* navigator) {
        for (long n = 1; n < 100; ++n) {
            spy_.FailAllocation(n);
            LONG count = 0;
            ReferenceRecord* records = nullptr;
            const HRESULT hr = navigator->GetReferences(0, &count, &records);
            spy_.FailAllocation(0);
            if (hr == S_OK) FreeReferenceRecords(records, count);
            if (hr == E_OUTOFMEMORY) return;
        }
        ADD_FAILURE() << "no allocation of the listing failed it";
    }

    // What a host does between two idle periods: load, one item's references,
    // release, ask whether the DLL may go, unload. Every load also has a
    // request fail for want of memory, on a thread of its own every other time.
    void OneLoad(bool ownThread) {
        HMODULE module = LoadLibraryExW(PluginDll::Path().c_str(), nullptr, 0);
        ASSERT_NE(module, nullptr);
        const auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        const auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
        ASSERT_TRUE(getClassObject && canUnloadNow);
        {
            ComPtr<IClassFactory> factory;
            ASSERT_EQ(getClassObject(CLSID_ItemFormat, IID_IClassFactory, factory.PutVoid()), S_OK);
            ComPtr<IPlxFileFormat> format;
            ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPlxFileFormat, format.PutVoid()), S_OK);
            UniqueBstr path(SysAllocString(ItemPath(L"Bracket.<item>").c_str()));
            ComPtr<IPlxFileNavigator> navigator;
            ASSERT_EQ(format->CreateNavigator(path.Get(), 0, navigator.Put()), S_OK);
            LONG count = 0;
            ReferenceRecord* records = nullptr;
            ASSERT_EQ(navigator->GetReferences(0, &count, &records), S_OK);
            EXPECT_EQ(count, 3);
            FreeReferenceRecords(records, count);
            if (ownThread) {
                TestThread([&] { ListOutOfMemory(navigator.Get()); }).join();
            } else {
                ListOutOfMemory(navigator.Get());
            }
        }
        EXPECT_EQ(canUnloadNow(), S_OK);
        ASSERT_TRUE(FreeLibrary(module));
        EXPECT_EQ(GetModuleHandleW(PluginDll::Path().c_str()), nullptr) << "the DLL stayed loaded";
    }

    MallocSpy spy_;
};

}  // namespace

// More cycles than a process has TLS indexes: a load that kept one would end
// the host long before the last.
TEST_F(PluginLifecycle, LoadRequestUnloadWithoutLimitLeavesEveryCountFlat) {
    // The system DLLs the plug-in uses set themselves up on first use.
    ASSERT_TRUE(spy_.Registered());
    for (int i = 0; i < 6; ++i) ASSERT_NO_FATAL_FAILURE(OneLoad(i % 2 == 1));
    const Census before = Take();
    ASSERT_GT(before.freeTlsIndexes, 0);
    const long blocks = spy_.LiveBlocks();
    for (int i = 0; i < 1200; ++i) ASSERT_NO_FATAL_FAILURE(OneLoad(i % 2 == 1)) << "cycle " << i;
    EXPECT_EQ(spy_.LiveBlocks(), blocks) << "task allocator blocks";
    const Census after = Take();
    EXPECT_EQ(after.freeTlsIndexes, before.freeTlsIndexes) << Describe(before) << "\n" << Describe(after);
    EXPECT_EQ(after.handlesByType, before.handlesByType) << Describe(before) << "\n" << Describe(after);
}

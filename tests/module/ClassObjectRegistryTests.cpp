// The class-object registry and the instance wrappers, in this program's own
// module, where the lock count can be read directly.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "common/ComPtr.h"
#include "module/ClassObjectRegistry.h"
#include "module/ComObject.h"
#include "tests/support/TestThread.h"

namespace {

const CLSID kTestClsid = {0x1c3d2b4a, 0x5e6f, 0x4a7b, {0x8c, 0x9d, 0x0e, 0x1f, 0x2a, 0x3b, 0x4c, 0x5d}};

class CTestObject : public ComObjectRoot<MultiThreadModel>, public IPersist {
public:
    void* InterfaceFor(REFIID iid) noexcept {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) ? static_cast<IPersist*>(this) : nullptr;
    }
    STDMETHODIMP GetClassID(CLSID* clsid) override {
        *clsid = kTestClsid;
        return S_OK;
    }
};

std::atomic<int> g_created{0};
std::atomic<int> g_failuresLeft{0};

HRESULT CountingCreate(InstanceCreator createInstance, REFIID iid, void** out) noexcept {
    if (g_failuresLeft > 0) {
        --g_failuresLeft;
        return E_OUTOFMEMORY;
    }
    ++g_created;
    return CClassFactory::Create(createInstance, iid, out);
}

class ClassObjectRegistryTest : public testing::Test {
protected:
    void SetUp() override {
        g_created = 0;
        g_failuresLeft = 0;
        ASSERT_TRUE(registry_.Init());
    }
    void TearDown() override {
        registry_.Term();
        EXPECT_EQ(Module().LockCount(), 0);
    }

    ObjectMapEntry map_[2] = {
        {&kTestClsid, {}, nullptr, &CreateComInstance<CTestObject>},  // no class object: skipped
        {&kTestClsid, {}, &CountingCreate, &CreateComInstance<CTestObject>},
    };
    ClassObjectRegistry registry_{map_};
};

}  // namespace

TEST_F(ClassObjectRegistryTest, ConcurrentRequestsShareOneClassObject) {
    std::vector<ComPtr<IClassFactory>> factories(8);
    std::vector<TestThread> threads;
    for (auto& factory : factories) {
        threads.emplace_back([&] { EXPECT_EQ(registry_.GetClassObject(kTestClsid, IID_IClassFactory, factory.PutVoid()), S_OK); });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(g_created, 1);
    for (auto& factory : factories) EXPECT_EQ(factory.Get(), factories[0].Get());
    EXPECT_EQ(Module().LockCount(), 1);
    factories.clear();
    EXPECT_EQ(Module().LockCount(), 0);
}

TEST_F(ClassObjectRegistryTest, FailedCreationIsReportedAndTriedAgain) {
    g_failuresLeft = 1;
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(registry_.GetClassObject(kTestClsid, IID_IClassFactory, factory.PutVoid()), E_OUTOFMEMORY);
    EXPECT_FALSE(factory);
    EXPECT_EQ(registry_.GetClassObject(kTestClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(g_created, 1);
}

TEST_F(ClassObjectRegistryTest, RequestsOutsideStartUpAndShutDownAreUnexpected) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(registry_.GetClassObject(kTestClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    factory.Reset();
    registry_.Term();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(registry_.GetClassObject(kTestClsid, IID_IClassFactory, &out), E_UNEXPECTED);
    EXPECT_EQ(out, nullptr);

    ClassObjectRegistry notStarted(map_);
    EXPECT_EQ(notStarted.GetClassObject(kTestClsid, IID_IClassFactory, &out), E_UNEXPECTED);
}

TEST(ComObjectWrappers, AggregateIsRefusedForAnyInterfaceButIUnknown) {
    ComPtr<IPersist> outerObject;
    ASSERT_EQ(CreateComInstance<CTestObject>(nullptr, IID_IPersist, outerObject.PutVoid()), S_OK);
    EXPECT_EQ(Module().LockCount(), 1);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateComInstance<CTestObject>(outerObject.Get(), IID_IPersist, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Module().LockCount(), 1);
    outerObject.Reset();
    EXPECT_EQ(Module().LockCount(), 0);
}

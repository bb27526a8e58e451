// The class objects and the module lock count, through the DLL's exports.
#include <gtest/gtest.h>

#include "ItemPlugin.h"
#include "PlxHostInterfaces.h"
#include "common/ComPtr.h"
#include "tests/module/PluginDll.h"

namespace {

// Every class of the object map is creatable directly; iid is one it answers.
struct ClassCase {
    const char* name;
    const CLSID* clsid;
    const IID* iid;
};
const ClassCase kClasses[] = {
    {"ItemFile", &CLSID_ItemFile, &IID_IPlxFileNavigator},
    {"ItemFormat", &CLSID_ItemFormat, &IID_IPlxFileFormat},
    {"ItemPreview", &CLSID_ItemPreview, &IID_IPlxFilePreview},
};

ComPtr<IClassFactory> ClassObject(const PluginDll& dll, REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(dll.GetClassObject(clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    return factory;
}

// A minimal outer object that hands every other interface to its inner one.
class OuterObject final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        if (inner) return inner->QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    ULONG refs = 1;
    ComPtr<IUnknown> inner;
};

}  // namespace

TEST(ClassObjects, DllCanUnloadRightAfterLoadAndOnceTheClientReleasedTheClassObject) {
    PluginDll dll;
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        ComPtr<IClassFactory> factory = ClassObject(dll, *c.clsid);
        ASSERT_TRUE(factory);
        EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
        factory.Reset();
        // The reference the module caches does not lock the DLL.
        EXPECT_EQ(dll.CanUnloadNow(), S_OK);
    }
}

TEST(ClassObjects, RepeatedRequestsGetTheSameClassObject) {
    PluginDll dll;
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        ComPtr<IUnknown> first, second;
        ASSERT_EQ(dll.GetClassObject(*c.clsid, IID_IUnknown, first.PutVoid()), S_OK);
        ASSERT_EQ(dll.GetClassObject(*c.clsid, IID_IClassFactory, second.PutVoid()), S_OK);
        ComPtr<IUnknown> secondIdentity;
        ASSERT_EQ(second->QueryInterface(IID_IUnknown, secondIdentity.PutVoid()), S_OK);
        EXPECT_EQ(first.Get(), secondIdentity.Get());
    }
}

TEST(ClassObjects, RequestsThatCannotBeAnsweredLeaveNullAndNoLock) {
    PluginDll dll;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.GetClassObject(IID_IPlxFilePreview, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.GetClassObject(CLSID_ItemPreview, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(dll.GetClassObject(CLSID_ItemPreview, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
}

TEST(ClassObjects, LockCountFollowsInstancesClassObjectsAndFailedCreations) {
    PluginDll dll;
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        ComPtr<IClassFactory> factory = ClassObject(dll, *c.clsid);
        ASSERT_TRUE(factory);
        EXPECT_EQ(dll.LockCount(factory.Get()), 1);

        ComPtr<IClassFactory> again = ClassObject(dll, *c.clsid);
        EXPECT_EQ(dll.LockCount(factory.Get()), 1) << "further references do not add locks";
        again.Reset();
        EXPECT_EQ(dll.LockCount(factory.Get()), 1);

        ComPtr<IUnknown> first, second;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, first.PutVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, second.PutVoid()), S_OK);
        EXPECT_EQ(dll.LockCount(factory.Get()), 3);

        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
        EXPECT_EQ(dll.LockCount(factory.Get()), 3);

        first.Reset();
        EXPECT_EQ(dll.LockCount(factory.Get()), 2);
        second.Reset();
        EXPECT_EQ(dll.LockCount(factory.Get()), 1);

        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        EXPECT_EQ(dll.LockCount(factory.Get()), 2);
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
        EXPECT_EQ(dll.LockCount(factory.Get()), 1);
    }
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
}

TEST(ClassObjects, AggregationIsOfferedOnlyThroughIUnknown) {
    PluginDll dll;
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        ComPtr<IClassFactory> factory = ClassObject(dll, *c.clsid);
        ASSERT_TRUE(factory);
        OuterObject outer;

        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(&outer, *c.iid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(dll.LockCount(factory.Get()), 1);

        ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.PutVoid()), S_OK);
        EXPECT_EQ(dll.LockCount(factory.Get()), 2);
        EXPECT_EQ(outer.refs, 1u);

        // The aggregate's own IUnknown answers for itself ...
        ComPtr<IUnknown> innerIdentity;
        ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, innerIdentity.PutVoid()), S_OK);
        EXPECT_EQ(innerIdentity.Get(), outer.inner.Get());
        innerIdentity.Reset();

        // ... while the interfaces it hands out belong to the outer object.
        ComPtr<IUnknown> fromOuter;
        ASSERT_EQ(outer.QueryInterface(*c.iid, fromOuter.PutVoid()), S_OK);
        EXPECT_EQ(outer.refs, 2u);
        ComPtr<IUnknown> identity;
        ASSERT_EQ(fromOuter->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
        EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
        identity.Reset();
        fromOuter.Reset();
        EXPECT_EQ(outer.refs, 1u);

        outer.inner.Reset();
        EXPECT_EQ(dll.LockCount(factory.Get()), 1);
    }
}

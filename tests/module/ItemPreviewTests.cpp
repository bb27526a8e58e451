// The preview object as the host meets it: created through its class object,
// called through vtable slots and IDispatch.
#include <gtest/gtest.h>

#include "ItemPlugin.h"
#include "PlxHostInterfaces.h"
#include "common/ComPtr.h"
#include "common/UniqueResource.h"
#include "tests/module/PluginDll.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/VtableCall.h"
#include "tests/support/ChildProcess.h"

namespace {

constexpr HRESULT kNoPreview = static_cast<HRESULT>(0x800402BF);

ComPtr<IUnknown> NewPreview(const PluginDll& dll) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(dll.GetClassObject(CLSID_ItemPreview, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<IUnknown> preview;
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, preview.PutVoid()), S_OK);
    }
    return preview;
}

// ItemPluginLib registered from the DLL for the scope; the registry as before afterwards.
class RegisteredTypeLib {
public:
    RegisteredTypeLib() {
        const std::wstring path = PluginDll::Path();
        EXPECT_EQ(LoadTypeLib(path.c_str(), library_.Put()), S_OK);
        if (library_) {
            EXPECT_EQ(RegisterTypeLib(library_.Get(), const_cast<wchar_t*>(path.c_str()), nullptr), S_OK);
        }
    }
    ~RegisteredTypeLib() {
        EXPECT_EQ(UnRegisterTypeLib(LIBID_ItemPluginLib, 1, 0, 0, SYS_WIN64), S_OK);
    }

private:
    static std::vector<RegistrySnapshot::Place> Keys() {
        std::vector<RegistrySnapshot::Place> places;
        for (const wchar_t* key : {L"TypeLib\\{B9D48100-7F53-4E3E-B183-CFCA0D017ABB}",
                                   L"Interface\\{6F81CF34-11AF-4171-BB81-E87A4105CB4E}",
                                   L"Interface\\{E31675DA-A2BA-4C7F-8844-885D8AD7AE90}",
                                   L"Interface\\{5C605B55-9198-4571-B2B2-7772DC9F492C}"}) {
            const std::wstring path = std::wstring(L"Software\\Classes\\") + key;
            places.push_back({HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY});
            places.push_back({HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY});
            places.push_back({HKEY_CURRENT_USER, path, 0});
        }
        return places;
    }

    RegistrySnapshot snapshot_{Keys()};
    ComPtr<ITypeLib> library_;
};

// The type library's reference count, read through AddRef and Release.
ULONG References(ITypeLib* library) {
    library->AddRef();
    return library->Release();
}

// Leaves the preview's class object and type information cached in the DLL and
// hands back the type information.
HRESULT CachePreviewTypeInfo(HMODULE dll, ComPtr<ITypeInfo>& info) {
    const auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    if (!getClassObject) return HRESULT_FROM_WIN32(GetLastError());
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(CLSID_ItemPreview, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IDispatch> dispatch;
    hr = factory->CreateInstance(nullptr, IID_IDispatch, dispatch.PutVoid());
    if (FAILED(hr)) return hr;
    return dispatch->GetTypeInfo(0, 0, info.Put());
}

// Loads the DLL, leaves objects cached in it and ends the process without
// unloading it: the exit code is the caching's result.
ITEMPLUGIN_CHILD_MODE(exit_with_cache, L"exit-with-cache") {
    HMODULE dll = LoadLibraryW(PluginDll::Path().c_str());
    if (!dll) return static_cast<int>(HRESULT_FROM_WIN32(GetLastError()));
    ComPtr<ITypeInfo> info;
    return static_cast<int>(CachePreviewTypeInfo(dll, info));
}

}  // namespace

TEST(ItemPreview, ShowAnswersNoPreviewAndTheOtherSlotsAreNotImplemented) {
    PluginDll dll;
    ComPtr<IUnknown> object = NewPreview(dll);
    ComPtr<IPlxFilePreview> preview;
    ASSERT_EQ(object.As(preview), S_OK);
    EXPECT_EQ(CallSlot(preview.Get(), 3), kNoPreview);
    EXPECT_EQ(CallSlot(preview.Get(), 3), kNoPreview);
    // Whatever the host passes.
    using ShowWithArguments = HRESULT(STDMETHODCALLTYPE*)(void*, LONG_PTR, void*, LONG_PTR, void*);
    auto show = reinterpret_cast<ShowWithArguments>((*reinterpret_cast<void***>(preview.Get()))[3]);
    EXPECT_EQ(show(preview.Get(), -1, nullptr, 7, preview.Get()), kNoPreview);
    for (int slot = 4; slot <= 11; ++slot) EXPECT_EQ(CallSlot(preview.Get(), slot), E_NOTIMPL) << slot;
}

TEST(ItemPreview, AnswersIDispatchButNotItsOwnInterfaceId) {
    PluginDll dll;
    ComPtr<IUnknown> object = NewPreview(dll);
    ASSERT_TRUE(object);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(object.As(dispatch), S_OK);
    ComPtr<IPlxFilePreview> preview;
    EXPECT_EQ(object.As(preview), S_OK);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_IItemPreview, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    ComPtr<IUnknown> identity;
    ASSERT_EQ(preview->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
    EXPECT_EQ(identity.Get(), object.Get());
}

TEST(ItemPreview, DispatchNeedsTheRegisteredLibraryAndLoadsItOnceRegistered) {
    PluginDll dll;
    ComPtr<IUnknown> object = NewPreview(dll);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(object.As(dispatch), S_OK);

    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);
    EXPECT_EQ(dispatch->GetTypeInfo(0, 0, nullptr), E_POINTER);

    wchar_t name[] = L"Show";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    DISPPARAMS none{};
    const HRESULT unregistered = dispatch->GetTypeInfo(0, 0, info.Put());
    EXPECT_TRUE(FAILED(unregistered));
    EXPECT_FALSE(info);
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), unregistered);
    EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), unregistered);

    RegisteredTypeLib registered;
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.Put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IItemPreview));
    info->ReleaseTypeAttr(attr);

    // No members of its own to find or call.
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_IItemPreview, names, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
}

// Unloading the DLL releases what it cached; a process that ends with the DLL
// still loaded releases nothing into DLLs that may be gone, and exits cleanly.
TEST(ItemPreview, CachedTypeInformationGoesWithFreeLibraryAndStaysAtProcessExit) {
    RegisteredTypeLib registered;
    ComPtr<ITypeLib> library;
    ULONG whileCached = 0;
    {
        PluginDll dll;
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(CachePreviewTypeInfo(dll.Handle(), info), S_OK);
        UINT index = 0;
        ASSERT_EQ(info->GetContainingTypeLib(library.Put(), &index), S_OK);
        info.Reset();
        whileCached = References(library.Get());
    }
    EXPECT_EQ(References(library.Get()), whileCached - 1);

    ChildProcess child(L"exit-with-cache");
    ASSERT_TRUE(child.Wait(60000));
    EXPECT_EQ(child.ExitCode(), 0u);
}

// The format object as the host uses it: format information, navigators and
// preview objects, the date property and the dispatch slots.
#include <gtest/gtest.h>

#include <atomic>

#include "common/ComPtr.h"
#include "common/HostResults.h"
#include "common/UniqueResource.h"
#include "module/ComObject.h"
#include "plugin/ItemFormat.h"
#include "tests/support/CacheFixture.h"
#include "tests/support/TestThread.h"
#include "tests/support/VaultFixture.h"
#include "tests/support/VtableCall.h"

namespace {

constexpr int kGetInfo = 3, kGetCapabilities = 4, kCreateNavigator = 5, kCreatePreview = 6, kSlot7 = 7;
constexpr int kGetTypeInfoCount = 8, kGetTypeInfo = 9, kGetIDsOfNames = 10, kInvoke = 11;
constexpr int kGetProperty = 3, kPropsSlot4 = 4;

double Date(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME time{year, month, 0, day, hour, minute, second, 0};
    double date = 0;
    SystemTimeToVariantTime(&time, &date);
    return date;
}

class Format : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        ASSERT_EQ(CreateComInstance<CItemFormat>(nullptr, IID_IPlxFileFormat, format_.PutVoid()), S_OK);
        ASSERT_EQ(format_.As(props_), S_OK);
    }
    void StoreItem(const std::wstring& fileName, double timestamp, std::int32_t kind, CacheWriter& writer) {
        StoredRecord record;
        record.timestamp = timestamp;
        record.timestampKind = kind;
        writer.WriteItem(fileName, record);
    }
    HRESULT GetDate(const VARIANT& path, VARIANT& value, VARIANT& extra) {
        return CallSlot(props_.Get(), kGetProperty, LONG{1}, path, &value, &extra);
    }
    HRESULT GetDate(const std::wstring& path, double& date) {
        UniqueVariant in, value, extra;
        in.vt = VT_BSTR;
        in.bstrVal = SysAllocString(path.c_str());
        const HRESULT hr = GetDate(in, value, extra);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(value.vt, VT_DATE);
            EXPECT_EQ(extra.vt, VT_I4);
            EXPECT_EQ(extra.lVal, 0);
            date = value.date;
        }
        return hr;
    }

    void TearDown() override {
        format_.Reset();
        props_.Reset();
        EXPECT_EQ(Module().LockCount(), 0);
        CacheFixture::TearDown();
    }

    ComPtr<IPlxFileFormat> format_;
    ComPtr<IPlxFileFormatProps> props_;
};

TEST_F(Format, InformationCapabilitiesAndUnservedSlots) {
    BSTR maker = nullptr, description = nullptr, extensions = nullptr;
    ASSERT_EQ(CallSlot(format_.Get(), kGetInfo, &maker, &description, &extensions), S_OK);
    EXPECT_STREQ(maker, L"Kestrelmar");
    EXPECT_STREQ(description, L"Item reference provider");
    EXPECT_STREQ(extensions, L"<item>");
    SysFreeString(maker);
    SysFreeString(description);
    SysFreeString(extensions);

    LONG flags = 0;
    EXPECT_EQ(CallSlot(format_.Get(), kGetCapabilities, LONG{0}, &flags), S_OK);
    EXPECT_EQ(flags, 0x4001);
    EXPECT_EQ(CallSlot(format_.Get(), kGetCapabilities, LONG{0}, static_cast<LONG*>(nullptr)), E_POINTER);
    // A null out pointer is refused rather than written through.
    BSTR untouched = nullptr;
    EXPECT_EQ(CallSlot(format_.Get(), kGetInfo, &untouched, static_cast<BSTR*>(nullptr), &untouched), E_POINTER);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(CallSlot(format_.Get(), kCreateNavigator, static_cast<BSTR>(nullptr), LONG{0},
                       static_cast<IPlxFileNavigator**>(nullptr)),
              E_POINTER);
    EXPECT_EQ(CallSlot(format_.Get(), kCreatePreview, LONG{1}, LONG{2}, LONG{3}, LONG{4},
                       static_cast<IPlxFilePreview**>(nullptr)),
              E_POINTER);
    EXPECT_EQ(CallSlot(format_.Get(), kSlot7), E_NOTIMPL);
    EXPECT_EQ(CallSlot(props_.Get(), kPropsSlot4), E_NOTIMPL);

    ComPtr<IUnknown> other;
    EXPECT_EQ(format_->QueryInterface(IID_IDispatch, other.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(format_->QueryInterface(IID_IItemFormat, other.PutVoid()), S_OK);
}

TEST_F(Format, PreviewObjectOffersNoPreview) {
    IPlxFilePreview* preview = nullptr;
    ASSERT_EQ(CallSlot(format_.Get(), kCreatePreview, LONG{1}, LONG{2}, LONG{3}, LONG{4}, &preview), S_OK);
    ComPtr<IPlxFilePreview> owned;
    owned.Attach(preview);
    EXPECT_EQ(CallSlot(preview, 3), ITEM_E_NOPREVIEW);
    EXPECT_EQ(CallSlot(preview, 3), ITEM_E_NOPREVIEW);
    EXPECT_EQ(CallSlot(preview, 4), E_NOTIMPL);
}

TEST_F(Format, PropertyArgumentsAreCheckedBeforeAnythingIsWritten) {
    UniqueVariant path, value, extra;
    path.vt = VT_BSTR;
    path.bstrVal = SysAllocString(L"");
    value.vt = VT_I2;
    value.iVal = 77;
    extra.vt = VT_I2;
    extra.iVal = 78;
    EXPECT_EQ(CallSlot(props_.Get(), kGetProperty, LONG{2}, static_cast<VARIANT&>(path), &value, &extra), E_NOTIMPL);
    EXPECT_EQ(GetDate(path, value, extra), E_INVALIDARG);
    EXPECT_EQ(CallSlot(props_.Get(), kGetProperty, LONG{1}, static_cast<VARIANT&>(path), static_cast<VARIANT*>(nullptr),
                       &extra),
              E_POINTER);
    EXPECT_EQ(value.vt, VT_I2);
    EXPECT_EQ(value.iVal, 77);
    EXPECT_EQ(extra.iVal, 78);

    UniqueVariant empty;
    EXPECT_EQ(GetDate(empty, value, extra), E_INVALIDARG) << "VT_EMPTY converts to an empty string";
    UniqueVariant unknown;
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = nullptr;
    EXPECT_NE(GetDate(unknown, value, extra), S_OK);
    UniqueVariant number;
    number.vt = VT_I4;
    number.lVal = 5;
    EXPECT_EQ(GetDate(number, value, extra), ITEM_E_INVALIDNAME) << "converts to \"5\", no item path";
    EXPECT_EQ(value.iVal, 77);
}

TEST_F(Format, PathAsStringOrByReferenceGivesTheSameDate) {
    {
        CacheWriter writer(CachePath());
        StoreItem(L"Bracket.<item>", Date(2024, 3, 1, 12, 0, 6), 1, writer);
    }
    const std::wstring itemPath = ItemPath(L"Bracket.<item>");
    double direct = 0;
    ASSERT_EQ(GetDate(itemPath, direct), S_OK);

    UniqueBstr text(SysAllocString(itemPath.c_str()));
    BSTR ref = text.Get();
    UniqueVariant byRef, value, extra;
    byRef.vt = VT_BSTR | VT_BYREF;
    byRef.pbstrVal = &ref;
    ASSERT_EQ(GetDate(byRef, value, extra), S_OK);
    EXPECT_EQ(value.date, direct);
    EXPECT_EQ(direct, Date(2024, 3, 1, 12, 0, 6));

    double missing = 0;
    EXPECT_EQ(GetDate(ItemPath(L"Absent.<item>"), missing), ITEM_E_NOTFOUND);
}

TEST_F(Format, KindOneDatesGoDownToAnEvenSecondWithoutZoneChange) {
    EXPECT_EQ(CItemFormat::ItemDate(Date(2024, 3, 1, 12, 0, 5), 1), Date(2024, 3, 1, 12, 0, 4));
    EXPECT_EQ(CItemFormat::ItemDate(Date(2024, 3, 1, 12, 0, 6), 1), Date(2024, 3, 1, 12, 0, 6));
    EXPECT_EQ(CItemFormat::ItemDate(Date(2024, 12, 31, 23, 59, 59), 1), Date(2024, 12, 31, 23, 59, 58));
    EXPECT_EQ(CItemFormat::ItemDate(1e10, 1), 0.0) << "beyond the representable dates";
    for (double none : {0.0, -1.0, -5.5}) EXPECT_EQ(CItemFormat::ItemDate(none, 2), none);

    {
        CacheWriter writer(CachePath());
        StoreItem(L"Odd.<item>", Date(2024, 3, 1, 12, 0, 5), 1, writer);
        StoreItem(L"None.<item>", -1.0, 0, writer);
    }
    double date = 0;
    ASSERT_EQ(GetDate(ItemPath(L"Odd.<item>"), date), S_OK);
    EXPECT_EQ(date, Date(2024, 3, 1, 12, 0, 4));
    ASSERT_EQ(GetDate(ItemPath(L"None.<item>"), date), S_OK);
    EXPECT_EQ(date, -1.0);
}

// Run by the suite "plugin_timezone_tests" with the process in UTC+3.
TEST_F(Format, OtherKindsAreShownInTheLocalTimeZone) {
    TIME_ZONE_INFORMATION zone{};
    GetTimeZoneInformation(&zone);
    if (zone.Bias != -180) GTEST_SKIP() << "needs a UTC+3 time zone (TZ=Etc/GMT-3)";
    EXPECT_EQ(CItemFormat::ItemDate(Date(2024, 3, 1, 12, 0, 5), 2), Date(2024, 3, 1, 15, 0, 5));
    EXPECT_EQ(CItemFormat::ItemDate(Date(2024, 3, 1, 12, 0, 5), 1), Date(2024, 3, 1, 12, 0, 4));
}

TEST_F(Format, EachCallerGetsTheDateOfItsOwnNavigator) {
    constexpr int kItems = 4;
    {
        CacheWriter writer(CachePath());
        for (int i = 0; i < kItems; ++i) StoreItem(L"I" + std::to_wstring(i) + L".<item>", 40000.0 + i * 2, 1, writer);
    }
    std::atomic<int> wrong{0};
    std::vector<TestThread> threads;
    for (int t = 0; t < kItems; ++t) {
        threads.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            const std::wstring path = ItemPath(L"I" + std::to_wstring(t) + L".<item>");
            for (int round = 0; round < 15; ++round) {
                double date = 0;
                if (FAILED(GetDate(path, date)) || date != 40000.0 + t * 2) ++wrong;
                ComPtr<IPlxFileNavigator> navigator;
                UniqueBstr other(SysAllocString(ItemPath(L"I" + std::to_wstring((t + 1) % kItems) + L".<item>").c_str()));
                IPlxFileNavigator* out = nullptr;
                if (FAILED(CallSlot(format_.Get(), kCreateNavigator, other.Get(), LONG{0}, &out))) ++wrong;
                navigator.Attach(out);
            }
            CoUninitialize();
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(Format, DispatchSlotsAnswerFromTheHostTypeLibrary) {
    UINT count = 0;
    EXPECT_EQ(CallSlot(format_.Get(), kGetTypeInfoCount, &count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(CallSlot(format_.Get(), kGetTypeInfoCount, static_cast<UINT*>(nullptr)), E_POINTER);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(CallSlot(format_.Get(), kGetTypeInfo, UINT{1}, LCID{0}, &info), DISP_E_BADINDEX);
    EXPECT_EQ(CallSlot(format_.Get(), kGetTypeInfo, UINT{0}, LCID{0}, static_cast<ITypeInfo**>(nullptr)), E_POINTER);

    // Without the host's library the type information cannot be loaded.
    EXPECT_TRUE(FAILED(CallSlot(format_.Get(), kGetTypeInfo, UINT{0}, LCID{0}, &info)));

    // With the stand-in of the host's library registered for this test.
    RegistrySnapshot classes({{HKEY_LOCAL_MACHINE, L"Software\\Classes\\TypeLib\\{5AE6EA86-4907-42E2-8F9B-79DAACBC4F64}", 0},
                              {HKEY_LOCAL_MACHINE, L"Software\\Classes\\Interface\\{E582AD85-DE1A-11D3-90FA-00C04F56B3AF}", 0},
                              {HKEY_LOCAL_MACHINE, L"Software\\Classes\\Interface\\{A9D80B48-E51F-466F-9A04-C44A868A02B8}", 0},
                              {HKEY_LOCAL_MACHINE, L"Software\\Classes\\Interface\\{E582AD87-DE1A-11D3-90FA-00C04F56B3AF}", 0},
                              {HKEY_LOCAL_MACHINE, L"Software\\Classes\\Interface\\{E582AD89-DE1A-11D3-90FA-00C04F56B3AF}", 0}});
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring tlb(exe);
    tlb = tlb.substr(0, tlb.rfind(L'\\') + 1) + L"HostFormatsStandIn.tlb";
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLib(tlb.c_str(), library.Put()), S_OK);
    ASSERT_EQ(RegisterTypeLib(library.Get(), tlb.data(), nullptr), S_OK);

    ASSERT_EQ(CallSlot(format_.Get(), kGetTypeInfo, UINT{0}, LCID{0}, &info), S_OK);
    ComPtr<ITypeInfo> ownedInfo;
    ownedInfo.Attach(info);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IPlxFileFormat));
    info->ReleaseTypeAttr(attributes);

    LPOLESTR name = const_cast<LPOLESTR>(L"GetCapabilities");
    DISPID id = -1;
    ASSERT_EQ(CallSlot(format_.Get(), kGetIDsOfNames, &IID_NULL, &name, UINT{1}, LCID{0}, &id), S_OK);
    LONG flags = 0;
    VARIANT args[2];
    args[1].vt = VT_I4;  // reserved (arguments go in reverse order)
    args[1].lVal = 0;
    args[0].vt = VT_I4 | VT_BYREF;
    args[0].plVal = &flags;
    DISPPARAMS params{args, nullptr, 2, 0};
    UniqueVariant result;
    // The reserved interface id must be IID_NULL: anything else calls nothing.
    EXPECT_EQ(CallSlot(format_.Get(), kInvoke, id, &IID_IPlxFileFormat, LCID{0}, WORD{DISPATCH_METHOD}, &params,
                       static_cast<VARIANT*>(&result), static_cast<EXCEPINFO*>(nullptr), static_cast<UINT*>(nullptr)),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(CallSlot(format_.Get(), kInvoke, id, &IID_NULL, LCID{0}, WORD{DISPATCH_METHOD}, &params,
                       static_cast<VARIANT*>(&result), static_cast<EXCEPINFO*>(nullptr), static_cast<UINT*>(nullptr)),
              S_OK);
    EXPECT_EQ(flags, 0x4001);

    UnRegisterTypeLib(GUID{0x5AE6EA86, 0x4907, 0x42E2, {0x8F, 0x9B, 0x79, 0xDA, 0xAC, 0xBC, 0x4F, 0x64}}, 6, 0, 0,
                      SYS_WIN64);
}

}  // namespace

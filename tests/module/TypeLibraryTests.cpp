// ItemPluginLib as read back from the DLL's TYPELIB resource.
#include <gtest/gtest.h>

#include <string>

#include "ItemPlugin.h"
#include "common/ComPtr.h"
#include "common/UniqueResource.h"
#include "tests/module/PluginDll.h"

namespace {

ComPtr<ITypeLib> LoadFromDll() {
    ComPtr<ITypeLib> library;
    EXPECT_EQ(LoadTypeLib(PluginDll::Path().c_str(), library.Put()), S_OK);
    return library;
}

std::wstring Text(const UniqueBstr& text) { return text ? std::wstring(text.Get()) : std::wstring(); }

// Attributes of one type description, released on scope exit.
class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* info) : info_(info) { EXPECT_EQ(info_->GetTypeAttr(&attr_), S_OK); }
    ~TypeAttr() {
        if (attr_) info_->ReleaseTypeAttr(attr_);
    }
    const TYPEATTR* operator->() const { return attr_; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

std::wstring Name(ITypeInfo* info) {
    UniqueBstr name;
    EXPECT_EQ(info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr), S_OK);
    return Text(name);
}

struct TypeCase {
    const wchar_t* name;
    TYPEKIND kind;
    const GUID* guid;
    const wchar_t* help;
    WORD flags;
    const wchar_t* implemented;  // the coclass's default interface, or the base interface
    WORD vtableBytes;            // interfaces only
};

constexpr WORD kDualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;

const TypeCase kTypes[] = {
    {L"ItemFormat", TKIND_COCLASS, &CLSID_ItemFormat, L"ItemFormat Class", TYPEFLAG_FCANCREATE, L"IItemFormat", 0},
    {L"IItemFormat", TKIND_INTERFACE, &IID_IItemFormat, L"IItemFormat Interface", 0, L"IUnknown", 3 * 8},
    {L"ItemFile", TKIND_COCLASS, &CLSID_ItemFile, L"ItemFile Class", TYPEFLAG_FCANCREATE, L"IItemFile", 0},
    {L"IItemFile", TKIND_INTERFACE, &IID_IItemFile, L"IItemFile Interface", 0, L"IUnknown", 3 * 8},
    {L"ItemPreview", TKIND_COCLASS, &CLSID_ItemPreview, L"ItemPreview Class", TYPEFLAG_FCANCREATE, L"IItemPreview",
     0},
    {L"IItemPreview", TKIND_DISPATCH, &IID_IItemPreview, L"IItemPreview Interface", kDualFlags, L"IDispatch",
     7 * 8},
};

}  // namespace

TEST(TypeLibrary, LibraryAttributes) {
    ComPtr<ITypeLib> library = LoadFromDll();
    ASSERT_TRUE(library);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_ItemPluginLib));
    EXPECT_EQ(attr->lcid, 0u);
    EXPECT_EQ(attr->syskind, SYS_WIN64);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    // The loader adds "has a disk image"; no flag is stored.
    EXPECT_EQ(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
    library->ReleaseTLibAttr(attr);

    UniqueBstr name, help, helpFile;
    DWORD context = 1;
    ASSERT_EQ(library->GetDocumentation(-1, name.Put(), help.Put(), &context, helpFile.Put()), S_OK);
    EXPECT_EQ(Text(name), L"ItemPluginLib");
    EXPECT_EQ(Text(help), L"ItemPlugin 1.0 Type Library");
    EXPECT_EQ(context, 0u);
    EXPECT_FALSE(helpFile);
}

TEST(TypeLibrary, SixTypeDescriptionsInTheirOrder) {
    ComPtr<ITypeLib> library = LoadFromDll();
    ASSERT_TRUE(library);
    ASSERT_EQ(library->GetTypeInfoCount(), std::size(kTypes));
    for (UINT index = 0; index < std::size(kTypes); ++index) {
        const TypeCase& expected = kTypes[index];
        SCOPED_TRACE(testing::Message() << "index " << index);
        UniqueBstr name, help;
        DWORD context = 1;
        ASSERT_EQ(library->GetDocumentation(index, name.Put(), help.Put(), &context, nullptr), S_OK);
        EXPECT_EQ(Text(name), expected.name);
        EXPECT_EQ(Text(help), expected.help);
        EXPECT_EQ(context, 0u);

        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfo(index, info.Put()), S_OK);
        TypeAttr attr(info.Get());
        EXPECT_EQ(attr->typekind, expected.kind);
        EXPECT_TRUE(IsEqualGUID(attr->guid, *expected.guid));
        // The stored flags: GetTypeAttr leaves out "oleautomation" for a dispatch view.
        ComPtr<ITypeInfo2> info2;
        ASSERT_EQ(info.As(info2), S_OK);
        ULONG flags = 0;
        ASSERT_EQ(info2->GetTypeFlags(&flags), S_OK);
        EXPECT_EQ(flags, expected.flags);
        EXPECT_EQ(attr->wMajorVerNum, 0);
        EXPECT_EQ(attr->wMinorVerNum, 0);
        EXPECT_EQ(attr->cVars, 0);
        ASSERT_EQ(attr->cImplTypes, 1);

        HREFTYPE ref = 0;
        ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
        ComPtr<ITypeInfo> implemented;
        ASSERT_EQ(info->GetRefTypeInfo(ref, implemented.Put()), S_OK);
        EXPECT_EQ(Name(implemented.Get()), expected.implemented);
        INT implFlags = -1;
        ASSERT_EQ(info->GetImplTypeFlags(0, &implFlags), S_OK);
        if (expected.kind == TKIND_COCLASS) {
            EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
            EXPECT_EQ(attr->cFuncs, 0);
        } else {
            EXPECT_EQ(attr->cbSizeVft, expected.vtableBytes);
        }
        if (expected.kind == TKIND_INTERFACE) {
            EXPECT_EQ(attr->cFuncs, 0);
        }
    }
}

TEST(TypeLibrary, ItemPreviewHasNoMembersOfItsOwn) {
    ComPtr<ITypeLib> library = LoadFromDll();
    ASSERT_TRUE(library);
    ComPtr<ITypeInfo> dispatchView;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IItemPreview, dispatchView.Put()), S_OK);
    wchar_t name[] = L"Show";
    LPOLESTR names[] = {name};
    MEMBERID id = 0;
    EXPECT_EQ(dispatchView->GetIDsOfNames(names, 1, &id), DISP_E_UNKNOWNNAME);

    // The vtable view of the dual interface: IDispatch's seven slots and nothing more.
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatchView->GetRefTypeOfImplType(-1, &ref), S_OK);
    ComPtr<ITypeInfo> vtableView;
    ASSERT_EQ(dispatchView->GetRefTypeInfo(ref, vtableView.Put()), S_OK);
    TypeAttr attr(vtableView.Get());
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->cFuncs, 0);
    EXPECT_EQ(attr->cbSizeVft, 7 * 8);
}

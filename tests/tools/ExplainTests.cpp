// itemhost --explain against real registrations, desktop.ini files and cache
// files: it reaches the answer the plug-in gives, and creates nothing on the way.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <sstream>

#include "common/ComPtr.h"
#include "common/HostResults.h"
#include "common/RequestTrace.h"
#include "common/UniqueResource.h"
#include "module/ComObject.h"
#include "plugin/ItemFormat.h"
#include "plugin/ReferenceRecord.h"
#include "settings/AppKey.h"
#include "settings/SettingsLight.h"
#include "tests/support/CacheFixture.h"
#include "tests/support/VaultFixture.h"
#include "tools/common/Json.h"
#include "tools/itemhost/Explain.h"

namespace {

StoredRecord Child(const wchar_t* name, std::int32_t itemType, std::int32_t state = 0) {
    StoredRecord child;
    child.name = name;
    child.path = std::wstring(L"C:\\Vault\\") + name;
    child.itemType = itemType;
    child.state = state;
    return child;
}

// Every key and value below root\path, as text.
void DumpKey(HKEY parent, const std::wstring& path, std::wostringstream& out) {
    UniqueHKey key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return;
    out << L"[" << path << L"]\n";
    for (DWORD i = 0;; ++i) {
        wchar_t name[1024];
        DWORD chars = 1024, type = 0, bytes = 0;
        BYTE data[4096];
        bytes = sizeof(data);
        if (RegEnumValueW(key.Get(), i, name, &chars, nullptr, &type, data, &bytes) != ERROR_SUCCESS) break;
        out << name << L"=" << type << L":" << std::wstring(reinterpret_cast<wchar_t*>(data), bytes / 2) << L"\n";
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[1024];
        DWORD chars = 1024;
        if (RegEnumKeyExW(key.Get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DumpKey(key.Get(), name, out);
    }
}

// Every file and folder below folder, with sizes and write times.
void DumpFolder(const std::wstring& folder, std::wostringstream& out) {
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        out << it->path().wstring();
        if (it->is_regular_file()) {
            out << L" " << it->file_size() << L" " << it->last_write_time().time_since_epoch().count();
        }
        out << L"\n";
    }
}

HRESULT Result(const Json& result) { return static_cast<HRESULT>(std::stoul(result.at("result").get<std::string>(), nullptr, 16)); }

class Explain : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        ASSERT_EQ(CreateComInstance<CItemFormat>(nullptr, IID_IPlxFileFormat, format_.PutVoid()), S_OK);
    }
    void TearDown() override {
        format_.Reset();
        CacheFixture::TearDown();
    }

    struct Answer {
        HRESULT navigator = E_UNEXPECTED;
        HRESULT references = E_UNEXPECTED;
        LONG count = -1;
        std::vector<std::wstring> names;  // as the host receives them
    };
    // What the plug-in answers, asked as the host asks.
    Answer AskPlugin(const std::wstring& path, bool hideType3 = false) {
        Answer answer;
        UniqueBstr bstr(SysAllocString(path.c_str()));
        ComPtr<IPlxFileNavigator> navigator;
        answer.navigator = format_->CreateNavigator(bstr.Get(), 0, navigator.Put());
        if (FAILED(answer.navigator)) return answer;
        if (hideType3) navigator->SetOption(3);
        ReferenceRecord* records = nullptr;
        answer.count = 0;
        answer.references = navigator->GetReferences(0, &answer.count, &records);
        for (LONG i = 0; records && i < answer.count; ++i) {
            answer.names.emplace_back(records[i].name, SysStringLen(records[i].name));
        }
        if (records) FreeReferenceRecords(records, answer.count);
        return answer;
    }

    void ExpectSameAnswer(const std::wstring& path, bool hideType3 = false) {
        const Json explained = ExplainItem(path, {hideType3});
        const Answer answer = AskPlugin(path, hideType3);
        EXPECT_EQ(Result(explained.at("answer").at("navigator")), answer.navigator) << path;
        if (SUCCEEDED(answer.navigator)) {
            const Json& references = explained.at("answer").at("references");
            EXPECT_EQ(Result(references), answer.references) << path;
            EXPECT_EQ(references.at("count"), answer.count) << path;
        }
    }

    // The product's registry keys and every folder the plug-in may create in.
    std::wstring State() const {
        std::wostringstream out;
        DumpKey(HKEY_CURRENT_USER, L"Software\\Kestrelmar", out);
        DumpKey(HKEY_LOCAL_MACHINE, L"Software\\Kestrelmar", out);
        // Where the plug-in keeps its data, asked without creating anything.
        ReadOnlyPolicy policy;
        RequestContext readOnly{nullptr, &policy};
        ScopedRequest request(readOnly);
        const CString dataFolder = SettingsLight().GetPath(PathKind::AppDataDir);
        DumpFolder(dataFolder.substr(0, dataFolder.rfind(L"\\KESTRELMAR PDM")), out);
        DumpFolder(temp_.Path(), out);
        return out.str();
    }

    ComPtr<IPlxFileFormat> format_;
};

TEST_F(Explain, ReachesThePluginsAnswerOnEveryRoad) {
    const std::wstring longName = std::wstring(40, L'L') + L".<item>";
    {
        CacheWriter writer(CachePath());
        StoredRecord item;
        item.name = L"Bracket";
        writer.WriteItem(L"Bracket.<item>", item);
        writer.WriteChildren(L"Bracket.<item>", {Child(L"Shown", 1), Child(L"Withdrawn", 1, 3), Child(L"Optional", 3)});
        writer.WriteItem(L"NoChildren.<item>", StoredRecord{});
        writer.WriteItem(longName, StoredRecord{});
        writer.WriteChildren(longName, {Child(L"A", 2)});
        StoredRecord damaged;
        damaged.nameBytes = 4000;  // more than the name field holds
        writer.WriteItem(L"Damaged.<item>", damaged);
    }

    // Before the test's own view: one without "ShellRoot", one of another
    // vault, one with an empty root and one whose root has no desktop.ini;
    // after it, one never examined.
    RegisterVaultView(RegistrationPlace::Machine, L"A no root", nullptr);
    const std::wstring otherRoot = temp_ / L"Other\\";
    std::filesystem::create_directories(otherRoot);
    WriteDesktopIni(otherRoot, L"{00000000-1111-2222-3333-444444444444}", L"{55555555-1111-2222-3333-444444444444}");
    RegisterVaultView(RegistrationPlace::Machine, L"B other vault", otherRoot.c_str());
    RegisterVaultView(RegistrationPlace::Machine, L"Bb empty root", L"");
    RegisterVaultView(RegistrationPlace::Machine, L"C no desktop.ini", (temp_ / L"Empty\\").c_str());
    RegisterVaultView(RegistrationPlace::User, L"~ after", viewRoot_.c_str());

    const std::wstring found = ItemPath(L"Bracket.<item>");
    const Json e = ExplainItem(found);
    EXPECT_EQ(e.at("itemPath").at("viewRoot"), Utf8(ViewRoot()));
    EXPECT_EQ(e.at("itemPath").at("call"), "CreateNavigator");
    EXPECT_EQ(e.at("viewRoot").at("desktopIniFound"), true);
    EXPECT_EQ(e.at("viewRoot").at("vaultId").at("text"), Utf8(kTestVaultId));
    EXPECT_TRUE(IsEqualGUID(GuidFromString(Text(e.at("viewRoot").at("vaultId").at("guid")).c_str()), VaultId()));
    // Every registration once, in listing order, with the road's own reason.
    std::vector<std::string> names, reasons;
    for (const Json& view : e.at("views").at("considered")) {
        names.push_back(view.at("name"));
        reasons.push_back(view.at("reason"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A no root", "B other vault", "Bb empty root", "C no desktop.ini",
                                               Utf8(kTestViewName), "~ after"}));
    // A root that gives no folder is passed over for that, before the match as after it.
    EXPECT_EQ(reasons, (std::vector<std::string>{"noShellRoot", "otherVault", "noFolder", "noViewId", "taken",
                                                 "notExamined"}));
    const Json& taken = e.at("views").at("considered").at(4);
    EXPECT_EQ(taken.at("place"), "user");
    EXPECT_EQ(taken.at("taken"), true);
    EXPECT_EQ(taken.at("root").at("folder"), Utf8(ViewRoot()));
    EXPECT_EQ(e.at("views").at("name"), Utf8(kTestViewName));
    EXPECT_EQ(e.at("dataFolder").at("source"), "localAppData");
    const Json& file = e.at("cacheFile");
    EXPECT_EQ(file.at("path"), Utf8(CachePath()));
    EXPECT_EQ(file.at("version"), 4);
    EXPECT_EQ(file.at("sectorSize"), 4096);
    EXPECT_TRUE(file.at("lockMilliseconds").is_number());
    EXPECT_EQ(e.at("keys").at("item").at("stream"), "BracketIS");
    EXPECT_EQ(e.at("keys").at("item").at("call"), "CreateNavigator");
    EXPECT_EQ(e.at("keys").at("children").at("call"), "GetReferences");
    EXPECT_EQ(e.at("reads").at("item").at("record").at("name"), "Bracket");
    std::vector<bool> shown;
    for (const Json& child : e.at("reads").at("children").at("records")) shown.push_back(child.at("shown"));
    EXPECT_EQ(shown, (std::vector<bool>{true, false, true})) << "state 3 never reaches the host";
    EXPECT_EQ(e.at("answer").at("references").at("count"), 2);
    EXPECT_EQ(e.at("wouldCreate"), Json::array());
    EXPECT_EQ(ExplainItem(found, {true}).at("answer").at("references").at("count"), 1) << "SetOption(3) hides type 3";
    // The text view is the same document for a person.
    EXPECT_NE(ExplanationText(e).find(L"passed over: a view of another vault"), std::wstring::npos);

    const Json nested = ExplainItem(ItemPath(longName)).at("keys").at("item");
    EXPECT_EQ(nested.at("storages"), Json::array({Utf8(std::wstring(30, L'L') + L"F")}));
    EXPECT_EQ(nested.at("stream"), Utf8(std::wstring(10, L'L') + L"IS"));

    for (const std::wstring& path : {found, ItemPath(longName), ItemPath(L"NoChildren.<item>"),
                                     ItemPath(L"Missing.<item>"), ItemPath(L"Damaged.<item>"),
                                     temp_ / L"NoVault\\<items>\\x.<item>", ViewRoot() + L"<ITEMS>\\x.<item>",
                                     std::wstring(L"\\\\server\\share\\<items>\\x.<item>"), std::wstring()}) {
        ExpectSameAnswer(path);
    }
    ExpectSameAnswer(found, true);
    const auto navigator = [](const std::wstring& path) { return Result(ExplainItem(path).at("answer").at("navigator")); };
    EXPECT_EQ(navigator(ItemPath(L"Missing.<item>")), ITEM_E_NOTFOUND);
    EXPECT_EQ(navigator(ItemPath(L"Damaged.<item>")), ITEM_E_CACHEREAD);
    EXPECT_EQ(navigator(temp_ / L"NoVault\\<items>\\x.<item>"), ITEM_E_INVALIDNAME);
    EXPECT_TRUE(ExplainItem(L"\\\\server\\share\\<items>\\x.<item>").at("itemPath").at("drive").is_null());

    // A file written with the older layout: version 3, 512-byte sectors.
    RemoveCacheFile();
    {
        ComPtr<IStorage> root;
        ASSERT_EQ(StgCreateDocfile(CachePath().c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                   root.Put()),
                  S_OK);
    }
    CacheWriter(CachePath()).WriteItem(L"Bracket.<item>", StoredRecord{});
    const Json old = ExplainItem(found).at("cacheFile");
    EXPECT_EQ(old.at("version"), 3);
    EXPECT_EQ(old.at("sectorSize"), 512);
    ExpectSameAnswer(found);
}

TEST_F(Explain, CreatesNothingWhereThePluginWould) {
    // Only a machine registration: the plug-in would create the user's key,
    // the cache folders and an empty cache file.
    DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
    RegisterVaultView(RegistrationPlace::Machine, kTestViewName, viewRoot_.c_str());
    const std::filesystem::path viewFolder = std::filesystem::path(CachePath()).parent_path();
    std::filesystem::remove(viewFolder);

    const std::wstring path = ItemPath(L"Bracket.<item>");
    const std::wstring before = State();
    const Json e = ExplainItem(path);
    EXPECT_EQ(State(), before) << "explain changed the registry or the folders";

    EXPECT_EQ(e.at("views").at("userKeyWouldBeCreated"), true);
    ASSERT_EQ(e.at("views").at("considered").size(), 1u);
    EXPECT_EQ(e.at("views").at("considered").at(0).at("place"), "machine");
    EXPECT_EQ(e.at("cacheFile").at("exists"), false);
    EXPECT_EQ(e.at("cacheFile").at("viewFolderExists"), false);
    EXPECT_EQ(Result(e.at("answer").at("navigator")), ITEM_E_NOTFOUND);
    const Json& wouldCreate = e.at("wouldCreate");
    ASSERT_EQ(wouldCreate.size(), 3u);
    EXPECT_EQ(wouldCreate.at(1), Utf8(viewFolder.wstring()));
    EXPECT_EQ(wouldCreate.at(2).get<std::string>().rfind(Utf8(CachePath()), 0), 0u);

    // The plug-in itself does create them, and the comparison sees it.
    EXPECT_EQ(AskPlugin(path).navigator, ITEM_E_NOTFOUND);
    const std::wstring created = State();
    EXPECT_NE(created, before);
    EXPECT_TRUE(std::filesystem::exists(CachePath()));

    const Json again = ExplainItem(path);
    EXPECT_EQ(State(), created) << "explain changed the cache file";
    EXPECT_EQ(again.at("cacheFile").at("exists"), true);
    // Its folders and file exist now; the user's key is created only when the
    // registrations are read anew, not when the plug-in's view cache serves.
    for (const Json& item : again.at("wouldCreate")) EXPECT_EQ(item.get<std::string>().rfind("HKCU\\", 0), 0u) << item;
    EXPECT_EQ(Result(again.at("answer").at("navigator")), ITEM_E_NOTFOUND);
}

// A stored text shows as the host receives it, whatever its byte count: an odd
// count leaves a last code unit whose high byte is zero.
TEST_F(Explain, StoredTextsShowAsTheHostReceivesThem) {
    StoredRecord odd = Child(L"Odd", 1);
    odd.nameBytes = 5;
    Bytes stream = ChildrenStream({odd, Child(L"Even", 1)});
    stream.erase(stream.begin() + 8 + 40 + 5);  // the high byte of the name's last unit
    {
        CacheWriter writer(CachePath());
        writer.WriteItem(L"Odd.<item>", StoredRecord{});
        writer.WriteStream(StoredChildrenKey(L"Odd.<item>"), stream);
    }
    const std::wstring path = ItemPath(L"Odd.<item>");
    const Answer answer = AskPlugin(path);
    ASSERT_EQ(answer.names, (std::vector<std::wstring>{L"Odd", L"Even"}));
    const Json children = ExplainItem(path).at("reads").at("children").at("records");
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children.at(0).at("name"), Utf8(answer.names[0]));
    EXPECT_EQ(children.at(1).at("name"), Utf8(answer.names[1]));
}

// The JSON document keeps its shape on every road: each step is an object, or
// null where the road ended before it, in the same order; it is strict JSON
// even for a record whose timestamp is no number.
TEST_F(Explain, JsonDocumentHasEveryStepOnEveryRoad) {
    StoredRecord record;
    record.timestamp = std::numeric_limits<double>::quiet_NaN();
    CacheWriter(CachePath()).WriteItem(L"Bracket.<item>", record);
    const std::vector<std::string> steps = {"path",      "itemPath", "viewRoot", "views",  "dataFolder",
                                            "cacheFile", "keys",     "reads",    "answer", "wouldCreate"};
    for (const std::wstring& path : {ItemPath(L"Bracket.<item>"), std::wstring(L"no item path")}) {
        const std::string json = JsonText(ExplainItem(path));
        const Json document = Json::parse(json);  // strict: throws on anything that is not JSON
        std::vector<std::string> members;
        for (const auto& member : document.items()) members.push_back(member.key());
        EXPECT_EQ(members, steps);
        EXPECT_EQ(json.substr(json.size() - 2), "}\n");
    }
    const Json found = Json::parse(JsonText(ExplainItem(ItemPath(L"Bracket.<item>"))));
    EXPECT_TRUE(found.at("reads").at("item").at("record").at("timestamp").is_null()) << found.dump(2);
    const Json missing = ExplainItem(L"no item path");
    EXPECT_TRUE(missing.at("views").is_null());
    EXPECT_EQ(missing.at("answer").at("navigator").at("result"), "0x8004021D");
}

}  // namespace

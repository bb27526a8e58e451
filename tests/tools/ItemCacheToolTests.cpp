// The cache inspector against real files from the cache writer: sound, damaged,
// version 3 and foreign. Every command runs as the built itemcache.exe and must
// leave the file's bytes as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <set>

#include "cache/CacheMutex.h"
#include "cache/ItemCacheFile.h"
#include "cache/ItemCacheLock.h"
#include "common/HostResults.h"
#include "common/UniqueResource.h"
#include "plugin/ReferenceList.h"
#include "settings/AppKey.h"
#include "tests/support/CacheFixture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestThread.h"
#include "tests/support/VaultFixture.h"
#include "tools/cachewriter/CacheWriter.h"
#include "tools/cachewriter/FileBytes.h"
#include "tools/common/Json.h"
#include "tools/itemcache/CacheInspection.h"

namespace {

Bytes FileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::wstring ToolPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::path(self).parent_path().wstring() + L"\\itemcache.exe";
}

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;  // stdout and stderr, UTF-8
};

// Runs itemcache.exe with a time limit: the platform can hang on damaged files,
// the test must not.
ToolRun RunTool(const std::wstring& arguments, DWORD timeoutMs = 60000) {
    ToolRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (!CreatePipe(&readRaw, &writeRaw, &inherit, 0)) return run;
    UniqueHandle readEnd(readRaw), writeEnd(writeRaw);
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd.Get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring commandLine = L"\"" + ToolPath() + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        return run;
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    writeEnd.Reset();
    TestThread reader([&] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd.Get(), buffer, sizeof(buffer), &got, nullptr) && got) run.output.append(buffer, got);
    });
    if (WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 99);
        WaitForSingleObject(process.Get(), 5000);
        ADD_FAILURE() << "itemcache did not end in time: " << std::string(arguments.begin(), arguments.end());
    }
    reader.join();
    // The console's text mode writes CR LF.
    run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
    GetExitCodeProcess(process.Get(), &run.exitCode);
    return run;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

StoredRecord Child(const wchar_t* name, std::int32_t itemType, std::int32_t linkType, std::int32_t state) {
    StoredRecord record;
    record.name = name;
    record.path = std::wstring(L"C:\\Vault\\") + name;
    record.itemType = itemType;
    record.linkType = linkType;
    record.state = state;
    return record;
}

const std::wstring kLongName = std::wstring(40, L'L') + L": forty and more" + std::wstring(20, L'x');

void WriteSoundCache(const std::wstring& path, CacheLayout layout = CacheLayout::Version4) {
    CacheWriter writer(path, layout);
    StoredRecord bracket = Child(L"Bracket", 1, -1, 0);
    bracket.timestamp = 45352.5;
    bracket.timestampKind = 1;
    writer.WriteItem(L"Bracket.<item>", bracket);
    writer.WriteChildren(L"Bracket.<item>", {Child(L"Drawing", 2, 6, 0), Child(L"Gone", 1, 4, 3), Child(L"Bolt", 3, 4, 0)});
    writer.WriteItem(L"Frame 50%.<item>", Child(L"Frame", 2, -1, 0));
    writer.WriteItem(kLongName + L".<item>", Child(L"Long", 1, -1, 0));
    writer.WriteChildren(kLongName + L".<item>", {Child(L"Inner", 7, 1, 0)});
}

// One item per kind of damage, each written as the host never would.
void WriteDamagedCache(const std::wstring& path) {
    CacheWriter writer(path);
    writer.WriteItem(L"Sound.<item>", Child(L"Sound", 1, -1, 0));
    Bytes cut = Child(L"Cut", 1, -1, 0).Serialize();
    cut.resize(cut.size() - 6);
    writer.WriteStream(StoredItemKey(L"Cut.<item>"), cut);
    Bytes trailing = Child(L"Trailing", 1, -1, 0).Serialize();
    trailing.insert(trailing.end(), {1, 2, 3});
    writer.WriteStream(StoredItemKey(L"Trailing.<item>"), trailing);
    StoredRecord huge = Child(L"Huge", 1, -1, 0);
    huge.nameBytes = 4000;
    writer.WriteItem(L"Huge.<item>", huge);

    writer.WriteItem(L"Counted.<item>", Child(L"Counted", 1, -1, 0));
    writer.WriteStream(StoredChildrenKey(L"Counted.<item>"), ChildrenStream({Child(L"One", 1, 4, 0)}, 1000));
    writer.WriteItem(L"Shortlist.<item>", Child(L"Shortlist", 1, -1, 0));
    Bytes list = ChildrenStream({Child(L"A", 1, 4, 0), Child(L"B", 1, 4, 0), Child(L"C", 1, 4, 0)});
    list.resize(list.size() - 10);
    writer.WriteStream(StoredChildrenKey(L"Shortlist.<item>"), list);
    writer.WriteItem(L"Extra.<item>", Child(L"Extra", 1, -1, 0));
    Bytes extra = ChildrenStream({Child(L"One", 1, 4, 0)});
    extra.insert(extra.end(), {9, 9});
    writer.WriteStream(StoredChildrenKey(L"Extra.<item>"), extra);
    writer.WriteChildren(L"Orphan.<item>", {Child(L"Lost", 1, 4, 0)});
    // Timestamps that are no date: the JSON reports must stay strict.
    StoredRecord nan = Child(L"Nan", 1, -1, 0);
    nan.timestamp = std::numeric_limits<double>::quiet_NaN();
    writer.WriteItem(L"Nan.<item>", nan);
    StoredRecord infinite = Child(L"Infinite", 1, 4, 0);
    infinite.timestamp = std::numeric_limits<double>::infinity();
    writer.WriteChildren(L"Nan.<item>", {infinite});

    writer.WriteStream(L"notakey", {1, 2, 3, 4});
    writer.WriteStream(L"bad%99escapeI", Child(L"x", 1, -1, 0).Serialize());
    writer.CreateStorages(std::wstring(45, L'E') + L"I");
}

// A report as the tool prints it, read back strictly.
Json Report(Command command, const std::wstring& path, const std::wstring& name = L"", InspectOptions options = {}) {
    return Json::parse(JsonText(Inspect(command, path, name, options)));
}

HRESULT Code(const Json& result) {
    return static_cast<HRESULT>(std::stoul(result.at("code").get<std::string>(), nullptr, 16));
}

std::set<std::string> Kinds(const Json& report, const char* severity) {
    std::set<std::string> kinds;
    for (const Json& f : report.at("findings")) {
        if (f.at("severity") == severity) kinds.insert(f.at("kind").get<std::string>());
    }
    return kinds;
}

const Json& FindItem(const Json& report, const char* name) {
    for (const Json& item : report.at("items")) {
        if (item.at("name") == name) return item;
    }
    ADD_FAILURE() << "no item " << name;
    static const Json none = {{"plugin", {{"navigator", {{"code", "0"}}}}}};
    return none;
}

HRESULT Navigator(const Json& report, const char* name) { return Code(FindItem(report, name).at("plugin").at("navigator")); }

class ItemCacheTool : public CacheFixture {};

TEST_F(ItemCacheTool, ReadsHeaderAndSplitKeysAndNeverRemovesEmptyStorages) {
    const std::wstring v4 = temp_ / L"v4.Items", v3 = temp_ / L"v3.Items";
    WriteSoundCache(v4);
    WriteSoundCache(v3, CacheLayout::Version3);
    {
        CacheWriter writer(v4);
        writer.CreateStorages(std::wstring(35, L'q') + L"I");
    }
    const Bytes before = FileBytes(v4);
    const Json listed = Report(Command::Check, v4);
    EXPECT_EQ(listed.at("open").at("code"), "0x00000000");
    EXPECT_TRUE(listed.at("lock").at("held"));
    EXPECT_EQ(listed.at("header").at("majorVersion"), 4);
    EXPECT_EQ(listed.at("header").at("sectorSize"), 4096);
    EXPECT_EQ(listed.at("items").size(), 3u);
    const Json& inner = FindItem(listed, "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL: forty and more" "xxxxxxxxxxxxxxxxxxxx");
    EXPECT_EQ(inner.at("children").at("stored"), 1) << "read through two storages";
    EXPECT_EQ(inner.at("plugin").at("referenceCount"), 1);
    EXPECT_EQ(Kinds(listed, "note"), (std::set<std::string>{"empty-storage"}));
    EXPECT_EQ(FileBytes(v4), before) << "the empty storage stays, nothing is committed";

    const Json old = Report(Command::Check, v3);
    EXPECT_EQ(old.at("header").at("majorVersion"), 3);
    EXPECT_EQ(old.at("header").at("sectorSize"), 512);
    EXPECT_EQ(Kinds(old, "note"), (std::set<std::string>{"version-3"}));
    EXPECT_EQ(old.at("exitStatus"), 0);

    const Json missing = Report(Command::List, temp_ / L"none.Items");
    EXPECT_FALSE(missing.at("exists"));
    EXPECT_EQ(Code(missing.at("open")), STG_E_FILENOTFOUND);
    EXPECT_EQ(missing.at("exitStatus"), 2);
    EXPECT_FALSE(std::filesystem::exists(temp_ / L"none.Items")) << "nothing is created";
}

TEST_F(ItemCacheTool, AnswersAgreeWithThePluginsOwnReads) {
    WriteDamagedCache(CachePath());
    const Json report = Report(Command::Check, CachePath());
    ASSERT_GE(report.at("items").size(), 7u);
    for (const Json& item : report.at("items")) {
        const std::wstring fileName = Text(item.at("fileName"));
        RefPtr<CItemCacheFile> file(new CItemCacheFile(VaultId()));
        ItemCacheLock lock(file, 3);
        std::int32_t kind = 0;
        const Json& plugin = item.at("plugin");
        EXPECT_EQ(file->LookupItem(lock, fileName, kind), Code(plugin.at("navigator"))) << item.dump();
        StreamBytes bytes;
        ReferenceRecord* records = nullptr;
        LONG count = 0;
        const HRESULT opened = file->ReadChildBytes(lock, fileName, bytes);
        const HRESULT built = SUCCEEDED(opened) ? BuildReferenceRecords(bytes.View(), {}, &records, &count) : S_OK;
        if (SUCCEEDED(opened) && SUCCEEDED(built)) FreeReferenceRecords(records, count);
        if (SUCCEEDED(Code(plugin.at("navigator")))) {
            EXPECT_EQ(plugin.at("referenceCount"), count) << item.dump();
            EXPECT_EQ(Code(plugin.at("references")), ReferencesAnswer(opened, built)) << item.dump();
            EXPECT_EQ(plugin.at("listUnreadable"), FAILED(opened) || FAILED(built)) << item.dump();
        }
    }
}

TEST_F(ItemCacheTool, CheckNamesEveryKindOfDamage) {
    const std::wstring path = temp_ / L"damaged.Items";
    WriteDamagedCache(path);
    const Json report = Report(Command::Check, path);
    EXPECT_EQ(Kinds(report, "damage"),
              (std::set<std::string>{"record-cut-short", "byte-counts-exceed-fields", "count-exceeds-stream"}));
    EXPECT_EQ(Kinds(report, "note"), (std::set<std::string>{"children-without-record", "bytes-after-record",
                                                             "bytes-after-records", "stray-stream", "empty-storage"}));
    EXPECT_EQ(report.at("items").size(), 9u);
    EXPECT_EQ(report.at("findings").size(), 10u);
    EXPECT_EQ(report.at("exitStatus"), 1);
    // Each finding names its element and item.
    std::map<std::string, std::string> damaged;
    for (const Json& f : report.at("findings")) {
        if (f.at("severity") == "damage") damaged[f.at("element").get<std::string>()] = f.at("kind").get<std::string>();
    }
    EXPECT_EQ(damaged, (std::map<std::string, std::string>{{"CutI", "record-cut-short"},
                                                            {"HugeI", "byte-counts-exceed-fields"},
                                                            {"CountedC", "count-exceeds-stream"},
                                                            {"ShortlistC", "record-cut-short"}}))
        << "a count beyond its stream is the one damage of its list";

    const Json& shortList = FindItem(report, "Shortlist");
    EXPECT_EQ(Navigator(report, "Shortlist"), S_OK);
    EXPECT_EQ(shortList.at("children").at("stored"), 3);
    EXPECT_EQ(shortList.at("children").at("readable"), 2) << "two read, the third cut short";
    EXPECT_EQ(Code(shortList.at("children").at("result")), ITEM_E_CACHEREAD);
    EXPECT_TRUE(shortList.at("plugin").at("listUnreadable")) << "the host gets S_OK and no references";
    EXPECT_EQ(Code(shortList.at("plugin").at("references")), S_OK);
    EXPECT_EQ(shortList.at("plugin").at("referenceCount"), 0);
    EXPECT_EQ(Navigator(report, "Huge"), ITEM_E_CACHEREAD);
    EXPECT_EQ(FindItem(report, "Huge").at("record").at("nameBytes"), 4000);
    EXPECT_EQ(FindItem(report, "Huge").at("record").at("problem"), "byte counts exceed their fields");
    EXPECT_EQ(Navigator(report, "Orphan"), ITEM_E_NOTFOUND);
    EXPECT_TRUE(FindItem(report, "Orphan").at("record").is_null());
    EXPECT_EQ(Navigator(report, "Trailing"), S_OK) << "the plug-in reads past nothing";
    EXPECT_EQ(FindItem(report, "Counted").at("children").at("stored"), 1000);
    EXPECT_EQ(report.at("summary"), "damaged: 9 items, 4 damage findings, 6 notes");

    // The records of a list: where each lies, and how far the one that ends it got.
    const Json shown = Report(Command::Show, path, L"Shortlist");
    const Json& list = shown.at("items").at(0).at("childList");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].at("stored").at("offset"), 8);
    EXPECT_EQ(list[1].at("stored").at("offset"), 8 + list[0].at("stored").at("bytes").get<int>());
    EXPECT_EQ(list[2].at("stored").at("problem"), "cut short");
    EXPECT_EQ(list[2].at("stored").at("name"), "C") << "its name was read before the bytes ran out";
    EXPECT_FALSE(list[0].contains("host")) << "an unreadable list sends the host nothing";

    // NaN and infinite timestamps come out as null in strict JSON.
    EXPECT_TRUE(FindItem(report, "Nan").at("record").at("timestamp").is_null());
    const Json nan = Report(Command::Show, path, L"Nan");
    EXPECT_TRUE(nan.at("items")[0].at("childList")[0].at("stored").at("timestamp").is_null()) << nan.dump();
}

// A sound cache as another compound-file writer leaves it: a property set, a
// class stream, a storage of its own, bytes after a record and after the last
// child. The plug-in reads it as its writer meant: notes, no damage, status 0.
TEST_F(ItemCacheTool, ForeignWritersElementsAreNotesNotDamage) {
    const std::wstring path = temp_ / L"foreign.Items";
    {
        CacheWriter writer(path);
        Bytes record = Child(L"Bracket", 1, -1, 0).Serialize();
        record.insert(record.end(), {0, 0, 0, 0});
        writer.WriteStream(StoredItemKey(L"Bracket.<item>"), record);
        Bytes list = ChildrenStream({Child(L"Drawing", 2, 6, 0), Child(L"Bolt", 3, 4, 0)});
        list.insert(list.end(), 16, 0);
        writer.WriteStream(StoredChildrenKey(L"Bracket.<item>"), list);

        ComPtr<IPropertySetStorage> sets;
        ASSERT_EQ(writer.Root()->QueryInterface(IID_IPropertySetStorage, sets.PutVoid()), S_OK);
        ComPtr<IPropertyStorage> summary;
        ASSERT_EQ(sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_ANSI,
                               STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, summary.Put()),
                  S_OK);
        PROPSPEC title{};
        title.ulKind = PRSPEC_PROPID;
        title.propid = PIDSI_TITLE;
        PROPVARIANT value{};
        value.vt = VT_LPSTR;
        value.pszVal = const_cast<char*>("Items of the vault");
        ASSERT_EQ(summary->WriteMultiple(1, &title, &value, PID_FIRST_USABLE), S_OK);
        ASSERT_EQ(summary->Commit(STGC_DEFAULT), S_OK);
        summary.Reset();
        ASSERT_EQ(WriteFmtUserTypeStg(writer.Root(), 0, const_cast<wchar_t*>(L"Item cache")), S_OK);
        ComPtr<IStorage> pool;
        ASSERT_EQ(writer.Root()->CreateStorage(L"ObjectPool", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                               0, pool.Put()),
                  S_OK);
        ComPtr<IStream> contents;
        ASSERT_EQ(pool->CreateStream(L"Contents", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                     contents.Put()),
                  S_OK);
        ULONG written = 0;
        ASSERT_EQ(contents->Write("data", 4, &written), S_OK);
    }

    const Json report = Report(Command::Check, path);
    EXPECT_EQ(Kinds(report, "damage"), std::set<std::string>());
    EXPECT_EQ(Kinds(report, "note"),
              (std::set<std::string>{"stray-stream", "stray-storage", "bytes-after-record", "bytes-after-records"}));
    EXPECT_TRUE(std::any_of(report.at("findings").begin(), report.at("findings").end(),
                            [](const Json& f) { return f.at("element") == "\005SummaryInformation"; }));
    ASSERT_EQ(report.at("items").size(), 1u);
    EXPECT_EQ(Navigator(report, "Bracket"), S_OK);
    EXPECT_EQ(FindItem(report, "Bracket").at("plugin").at("referenceCount"), 2);

    const ToolRun check = RunTool(L"check " + Quoted(path));
    EXPECT_EQ(check.exitCode, 0u) << check.output;
}

// The document of a --json run, parsed strictly.
Json Document(const ToolRun& run) {
    try {
        return Json::parse(run.output);
    } catch (const Json::exception& e) {
        ADD_FAILURE() << "not strict JSON (" << e.what() << "): " << run.output;
        return Json::object();
    }
}

// Every command, text and JSON, on every kind of file: the exit status says
// what was found, and the file's bytes never change.
TEST_F(ItemCacheTool, EveryCommandLeavesEveryFileAsItWas) {
    struct Case {
        const wchar_t* file;
        DWORD checkStatus;
        const char* kind;         // a finding the check reports
        const char* openFailure;  // or why the file cannot be opened
    };
    const Case cases[] = {
        {L"sound.Items", 0, nullptr, nullptr},
        {L"v3.Items", 0, "version-3", nullptr},
        {L"damaged.Items", 1, "count-exceeds-stream", nullptr},
        {L"text.Items", 2, nullptr, "not a compound file"},
        {L"truncated.Items", 2, nullptr, nullptr},
    };
    WriteSoundCache(temp_ / L"sound.Items");
    WriteSoundCache(temp_ / L"v3.Items", CacheLayout::Version3);
    WriteDamagedCache(temp_ / L"damaged.Items");
    const char text[] = "not a cache at all\r\n";
    WriteFileBytes(temp_ / L"text.Items", text, sizeof(text) - 1);
    const Bytes sound = FileBytes(temp_ / L"sound.Items");
    WriteFileBytes(temp_ / L"truncated.Items", sound.data(), 700);

    for (const Case& c : cases) {
        const std::wstring path = temp_ / c.file;
        const Bytes before = FileBytes(path);
        const ToolRun check = RunTool(L"--json check " + Quoted(path));
        const Json checked = Document(check);
        EXPECT_EQ(check.exitCode, c.checkStatus) << check.output;
        EXPECT_EQ(checked.value("exitStatus", -1), static_cast<int>(check.exitCode));
        EXPECT_EQ(checked.contains("openFailure"), c.checkStatus == 2) << check.output;
        if (c.kind) {
            EXPECT_TRUE(Kinds(checked, c.checkStatus ? "damage" : "note").count(c.kind)) << check.output;
        }
        if (c.openFailure) {
            EXPECT_EQ(checked.value("openFailure", ""), c.openFailure) << check.output;
        }
        for (const std::wstring& command : {L"check " + Quoted(path), L"list " + Quoted(path),
                                            L"--json list " + Quoted(path), L"show " + Quoted(path) + L" Bracket",
                                            L"--json --hide-type3 show " + Quoted(path) + L" \"Bracket.<item>\""}) {
            const ToolRun run = RunTool(command);
            EXPECT_LE(run.exitCode, 2u) << run.output;
            EXPECT_EQ(run.exitCode == 2, c.checkStatus == 2) << run.output;
            if (command.rfind(L"--json", 0) == 0) {
                const Json document = Document(run);
                EXPECT_EQ(document.value("exitStatus", -1), static_cast<int>(run.exitCode));
                EXPECT_EQ(document.value("command", ""), command.find(L"show") != std::wstring::npos ? "show" : "list");
            }
        }
        EXPECT_EQ(FileBytes(path), before) << "itemcache changed " << c.file;
    }
}

TEST_F(ItemCacheTool, ShowGivesTheHostsViewBesideTheStoredFields) {
    const std::wstring path = temp_ / L"sound.Items";
    WriteSoundCache(path);
    const ToolRun listRun = RunTool(L"--json list " + Quoted(path));
    EXPECT_EQ(listRun.exitCode, 0u);
    const Json list = Document(listRun);
    EXPECT_EQ(FindItem(list, "Frame 50%").at("key"), "Frame 50%01") << "escapes turned back";
    EXPECT_EQ(FindItem(list, "Frame 50%").at("fileName"), "Frame 50%.<item>");
    EXPECT_EQ(FindItem(list, "Frame 50%").at("children").at("read").at("code"), "0x80040213");
    EXPECT_EQ(FindItem(list, "Bracket").at("children").at("stored"), 3);
    EXPECT_EQ(FindItem(list, "Bracket").at("record").at("timestampKind"), 1);

    const ToolRun shownRun = RunTool(L"--json show " + Quoted(path) + L" Bracket");
    EXPECT_EQ(shownRun.exitCode, 0u) << shownRun.output;
    const Json shown = Document(shownRun);
    const Json& item = shown.at("items").at(0);
    EXPECT_EQ(item.at("plugin").at("date"), "2024-03-01 12:00:00");
    EXPECT_EQ(item.at("plugin").at("referenceCount"), 2);
    const Json& children = item.at("childList");
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0].at("stored").at("itemType"), 2);
    EXPECT_EQ(children[0].at("stored").at("linkType"), 6);
    EXPECT_EQ(children[0].at("host"), (Json{{"name", "Drawing"}, {"path", "C:\\Vault\\Drawing"}, {"typeCode", 5},
                                            {"linkCode", 5}, {"numbers", {11, 13, 12, 14, 0}}}))
        << "stored beside mapped codes";
    EXPECT_EQ(children[1].at("hiddenBecause"), "state 3");
    EXPECT_FALSE(children[1].contains("host"));
    EXPECT_EQ(children[2].at("host").at("typeCode"), 1);
    const Json hidden = Document(RunTool(L"--json --hide-type3 show " + Quoted(path) + L" Bracket"));
    EXPECT_TRUE(hidden.at("hideType3"));
    EXPECT_EQ(hidden.at("items")[0].at("plugin").at("referenceCount"), 1);
    EXPECT_EQ(hidden.at("items")[0].at("childList")[2].at("hiddenBecause"), "type 3 (--hide-type3)");
    // The text view is rendered from the same document.
    EXPECT_EQ(RunTool(L"show " + Quoted(path) + L" Bracket").exitCode, 0u);

    const ToolRun missing = RunTool(L"--json show " + Quoted(path) + L" Nothing");
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_EQ(Document(missing).at("items")[0].at("plugin").at("navigator").at("code"), "0x80040213");
    const ToolRun none = RunTool(L"list " + Quoted(temp_ / L"absent.Items"));
    EXPECT_EQ(none.exitCode, 2u);
    EXPECT_FALSE(std::filesystem::exists(temp_ / L"absent.Items"));
    EXPECT_EQ(RunTool(L"frobnicate").exitCode, 2u) << "usage";
}

TEST_F(ItemCacheTool, VaultOptionFindsThePluginsFileAndTheLockIsTaken) {
    WriteSoundCache(CachePath());
    const ToolRun byVault = RunTool(L"--json list --vault " + std::wstring(kTestVaultId));
    EXPECT_EQ(byVault.exitCode, 0u) << byVault.output;
    EXPECT_EQ(Text(Document(byVault).at("file")), CachePath());
    EXPECT_EQ(Document(byVault).at("items").size(), 3u);

    // It only reads settings: a user without the application key still has none after it.
    DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
    RegisterVaultView(RegistrationPlace::Machine, kTestViewName, viewRoot_.c_str());
    const ToolRun readOnly = RunTool(L"list --vault " + std::wstring(kTestVaultId));
    EXPECT_EQ(readOnly.exitCode, 0u) << readOnly.output;
    HKEY userKey = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, &userKey), ERROR_FILE_NOT_FOUND);
    if (userKey) RegCloseKey(userKey);

    // While this process holds the cache lock, the tool waits, then gives up.
    std::optional<CacheMutex> held;
    held.emplace();
    ASSERT_TRUE(held->Held());
    const ToolRun blocked = RunTool(L"--json --lock-timeout 1 check " + Quoted(CachePath()));
    EXPECT_EQ(blocked.exitCode, 2u);
    const Json blockedReport = Document(blocked);
    EXPECT_TRUE(blockedReport.at("lock").at("timedOut")) << blocked.output;
    EXPECT_FALSE(blockedReport.at("exists")) << "the file is not touched without the lock";
    held.reset();
    EXPECT_EQ(RunTool(L"--lock-timeout 1 check " + Quoted(CachePath())).exitCode, 0u);
}

}  // namespace

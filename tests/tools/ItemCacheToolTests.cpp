// The cache inspector against real files from the cache writer: sound, damaged,
// version 3 and foreign. Every command runs as the built itemcache.exe and must
// leave the file's bytes as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>

#include "cache/CacheFileReader.h"
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
#include "tools/common/Json.h"
#include "tools/itemcache/CacheInspection.h"
#include "tools/itemcache/CacheReportText.h"

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

std::set<std::wstring> Kinds(const CacheReport& report, bool damage) {
    std::set<std::wstring> kinds;
    for (const Finding& f : report.findings) {
        if (f.damage == damage) kinds.insert(f.kind);
    }
    return kinds;
}

const ItemInfo* FindItem(const CacheReport& report, const std::wstring& name) {
    for (const ItemInfo& item : report.items) {
        if (item.name == name) return &item;
    }
    return nullptr;
}

class ItemCacheTool : public CacheFixture {};

TEST_F(ItemCacheTool, ReaderSeesHeaderAndSplitKeysAndNeverRemovesEmptyStorages) {
    const std::wstring v4 = temp_ / L"v4.Items", v3 = temp_ / L"v3.Items";
    WriteSoundCache(v4);
    WriteSoundCache(v3, CacheLayout::Version3);
    {
        CacheWriter writer(v4);
        writer.CreateStorages(std::wstring(35, L'q') + L"I");
    }
    const Bytes before = FileBytes(v4);
    {
        CacheFileReader reader(v4);
        ASSERT_TRUE(reader.IsOpen()) << std::hex << reader.OpenResult();
        EXPECT_TRUE(reader.Lock().Held());
        EXPECT_EQ(reader.Header().majorVersion, 4);
        EXPECT_EQ(reader.Header().SectorSize(), 4096u);
        StreamBytes bytes;
        ASSERT_EQ(reader.ReadKey(StoredChildrenKey(kLongName + L".<item>"), bytes), S_OK) << "through two storages";
        EXPECT_EQ(bytes.View().size(), ChildrenStream({Child(L"Inner", 7, 1, 0)}).size());
        EXPECT_EQ(reader.ReadKey(std::wstring(35, L'q') + L"I", bytes), ITEM_E_NOTFOUND);
        EXPECT_EQ(reader.ReadKey(L"MissingI", bytes), ITEM_E_NOTFOUND);
    }
    EXPECT_EQ(FileBytes(v4), before) << "the empty storage stays, nothing is committed";

    CacheFileReader old(v3);
    ASSERT_TRUE(old.IsOpen());
    EXPECT_EQ(old.Header().majorVersion, 3);
    EXPECT_EQ(old.Header().SectorSize(), 512u);
    EXPECT_TRUE(old.Header().Consistent());

    CacheFileReader missing(temp_ / L"none.Items");
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.OpenResult(), STG_E_FILENOTFOUND);
    EXPECT_FALSE(std::filesystem::exists(temp_ / L"none.Items")) << "nothing is created";
}

TEST_F(ItemCacheTool, AnswersAgreeWithThePluginsOwnReads) {
    WriteDamagedCache(CachePath());
    InspectOptions options;
    const CacheReport report = InspectCache(CachePath(), options, true);
    ASSERT_TRUE(report.Opened());
    ASSERT_GE(report.items.size(), 7u);
    for (const ItemInfo& item : report.items) {
        RefPtr<CItemCacheFile> file(new CItemCacheFile(VaultId()));
        ItemCacheLock lock(file, 3);
        std::int32_t kind = 0;
        EXPECT_EQ(file->LookupItem(lock, item.fileName, kind), item.initResult) << item.name;
        StreamBytes bytes;
        ReferenceRecord* records = nullptr;
        LONG count = 0;
        if (SUCCEEDED(file->ReadChildBytes(lock, item.fileName, bytes)) &&
            SUCCEEDED(BuildReferenceRecords(bytes.View(), {}, &records, &count))) {
            FreeReferenceRecords(records, count);
        }
        if (SUCCEEDED(item.initResult)) {
            EXPECT_EQ(item.referenceCount, static_cast<size_t>(count)) << item.name;
        }
    }
}

TEST_F(ItemCacheTool, CheckNamesEveryKindOfDamage) {
    const std::wstring path = temp_ / L"damaged.Items";
    WriteDamagedCache(path);
    const CacheReport report = InspectCache(path, {}, true);
    ASSERT_TRUE(report.Opened());
    EXPECT_EQ(Kinds(report, true), (std::set<std::wstring>{L"record-cut-short", L"byte-counts-exceed-fields",
                                                           L"count-exceeds-stream"}));
    EXPECT_EQ(Kinds(report, false),
              (std::set<std::wstring>{L"children-without-record", L"bytes-after-record", L"bytes-after-records",
                                      L"stray-stream", L"empty-storage"}));

    const ItemInfo* shortList = FindItem(report, L"Shortlist");
    ASSERT_TRUE(shortList);
    EXPECT_EQ(shortList->initResult, S_OK);
    EXPECT_EQ(shortList->children.size(), 3u) << "two read, the third cut short";
    EXPECT_EQ(shortList->children.back().record.problem, L"cut short");
    EXPECT_TRUE(shortList->referencesUnreadable) << "the host gets S_OK and no references";
    EXPECT_EQ(FindItem(report, L"Huge")->initResult, ITEM_E_CACHEREAD);
    EXPECT_EQ(FindItem(report, L"Orphan")->initResult, ITEM_E_NOTFOUND);
    EXPECT_EQ(FindItem(report, L"Trailing")->initResult, S_OK) << "the plug-in reads past nothing";
    const std::wstring text = ReportText(Command::Check, report, {});
    EXPECT_NE(text.find(L"CountedC: stored count 1000 is more than a stream of 98 bytes can hold"), std::wstring::npos)
        << text;
    EXPECT_EQ(text.substr(text.rfind(L'\n', text.size() - 2) + 1), L"damaged: 9 items, 4 damage findings, 6 notes\n")
        << "the summary line comes last";

    // NaN and infinite timestamps come out as null in strict JSON.
    const Json checked = Json::parse(ReportJson(Command::Check, report, {}));
    bool sawNan = false;
    for (const Json& item : checked.at("items")) {
        if (item.at("name") != "Nan") continue;
        sawNan = true;
        EXPECT_TRUE(item.at("record").at("timestamp").is_null()) << item.dump();
    }
    EXPECT_TRUE(sawNan);
    const Json shown = Json::parse(ReportJson(Command::Show, InspectItem(path, L"Nan", {}), {}));
    EXPECT_TRUE(shown.at("items")[0].at("childList")[0].at("stored").at("timestamp").is_null()) << shown.dump();
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

    const CacheReport report = InspectCache(path, {}, true);
    ASSERT_TRUE(report.Opened());
    EXPECT_EQ(report.DamageCount(), 0u);
    EXPECT_EQ(Kinds(report, false), (std::set<std::wstring>{L"stray-stream", L"stray-storage", L"bytes-after-record",
                                                            L"bytes-after-records"}));
    EXPECT_TRUE(std::any_of(report.findings.begin(), report.findings.end(),
                            [](const Finding& f) { return f.element == L"\005SummaryInformation"; }));
    ASSERT_EQ(report.items.size(), 1u);
    EXPECT_EQ(report.items[0].initResult, S_OK);
    EXPECT_EQ(report.items[0].referenceCount, 2u);

    const ToolRun check = RunTool(L"check " + Quoted(path));
    EXPECT_EQ(check.exitCode, 0u) << check.output;
    EXPECT_NE(check.output.find("sound: 1 item, 0 damage findings"), std::string::npos) << check.output;
}

// Every command, text and JSON, on every kind of file: the exit status says
// what was found, and the file's bytes never change.
TEST_F(ItemCacheTool, EveryCommandLeavesEveryFileAsItWas) {
    struct Case {
        const wchar_t* file;
        DWORD checkStatus;
        const char* says;
    };
    const Case cases[] = {
        {L"sound.Items", 0, "sound: 3 items"},
        {L"v3.Items", 0, "version 3 with 512-byte sectors"},
        {L"damaged.Items", 1, "damaged: "},
        {L"text.Items", 2, "not a compound file"},
        {L"truncated.Items", 2, "cannot open"},
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
        const ToolRun check = RunTool(L"check " + Quoted(path));
        EXPECT_EQ(check.exitCode, c.checkStatus) << check.output;
        EXPECT_NE(check.output.find(c.says), std::string::npos) << check.output;
        for (const std::wstring& command : {L"list " + Quoted(path), L"--json check " + Quoted(path),
                                            L"--json list " + Quoted(path), L"show " + Quoted(path) + L" Bracket",
                                            L"--json --hide-type3 show " + Quoted(path) + L" \"Bracket.<item>\""}) {
            const ToolRun run = RunTool(command);
            EXPECT_LE(run.exitCode, 2u) << run.output;
            EXPECT_EQ(run.exitCode == 2, c.checkStatus == 2) << run.output;
            if (command.rfind(L"--json", 0) == 0) {
                EXPECT_EQ(run.output.rfind("{\n  \"command\": ", 0), 0u) << run.output;
                const Json document = Json::parse(run.output, nullptr, false);
                ASSERT_FALSE(document.is_discarded()) << "strict JSON: " << run.output;
                EXPECT_EQ(document.at("exitStatus"), run.exitCode);
            }
        }
        EXPECT_EQ(FileBytes(path), before) << "itemcache changed " << c.file;
    }
}

TEST_F(ItemCacheTool, ShowGivesTheHostsViewBesideTheStoredFields) {
    const std::wstring path = temp_ / L"sound.Items";
    WriteSoundCache(path);
    const ToolRun list = RunTool(L"list " + Quoted(path));
    EXPECT_EQ(list.exitCode, 0u);
    EXPECT_NE(list.output.find("Frame 50%"), std::string::npos) << "escapes turned back: " << list.output;
    EXPECT_NE(list.output.find("LLLL: forty and more"), std::string::npos) << "split storages joined";

    const ToolRun shown = RunTool(L"show " + Quoted(path) + L" Bracket");
    EXPECT_EQ(shown.exitCode, 0u) << shown.output;
    EXPECT_NE(shown.output.find("Host date:   2024-03-01 12:00:00"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("References:  2 shown"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("2 > 5          6 > 5"), std::string::npos) << "stored beside mapped codes";
    EXPECT_NE(shown.output.find("hidden: state 3"), std::string::npos);
    const ToolRun hidden = RunTool(L"--hide-type3 show " + Quoted(path) + L" Bracket");
    EXPECT_NE(hidden.output.find("References:  1 shown"), std::string::npos) << hidden.output;
    EXPECT_NE(hidden.output.find("hidden: type 3"), std::string::npos);

    const ToolRun missing = RunTool(L"show " + Quoted(path) + L" Nothing");
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_NE(missing.output.find("0x80040213"), std::string::npos) << missing.output;
    const ToolRun none = RunTool(L"list " + Quoted(temp_ / L"absent.Items"));
    EXPECT_EQ(none.exitCode, 2u);
    EXPECT_FALSE(std::filesystem::exists(temp_ / L"absent.Items"));
    EXPECT_EQ(RunTool(L"frobnicate").exitCode, 2u) << "usage";
}

TEST_F(ItemCacheTool, VaultOptionFindsThePluginsFileAndTheLockIsTaken) {
    WriteSoundCache(CachePath());
    const ToolRun byVault = RunTool(L"list --vault " + std::wstring(kTestVaultId));
    EXPECT_EQ(byVault.exitCode, 0u) << byVault.output;
    EXPECT_NE(byVault.output.find("3 items"), std::string::npos) << byVault.output;

    // It only reads settings: a user without the application key still has none after it.
    DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
    RegisterVaultView(RegistrationPlace::Machine, kTestViewName, viewRoot_.c_str());
    const ToolRun readOnly = RunTool(L"list --vault " + std::wstring(kTestVaultId));
    EXPECT_EQ(readOnly.exitCode, 0u) << readOnly.output;
    EXPECT_NE(readOnly.output.find("3 items"), std::string::npos) << readOnly.output;
    HKEY userKey = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, &userKey), ERROR_FILE_NOT_FOUND);
    if (userKey) RegCloseKey(userKey);

    // While this process holds the cache lock, the tool waits, then gives up.
    std::optional<CacheMutex> held;
    held.emplace();
    ASSERT_TRUE(held->Held());
    const ToolRun blocked = RunTool(L"--lock-timeout 1 check " + Quoted(CachePath()));
    EXPECT_EQ(blocked.exitCode, 2u);
    EXPECT_NE(blocked.output.find("held by another process"), std::string::npos) << blocked.output;
    held.reset();
    EXPECT_EQ(RunTool(L"--lock-timeout 1 check " + Quoted(CachePath())).exitCode, 0u);
}

}  // namespace

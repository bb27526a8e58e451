// The document --explain writes: each step the plug-in's road tells becomes the
// members of its section, as it is told. A section belongs to the first call
// that reaches it; a later call's walk of the same road (GetReferences finds
// the vault again) adds only what that walk reaches first.
#include "tools/itemhost/Explain.h"

#include <objbase.h>

#include "cache/CachePath.h"
#include "cache/RecordParse.h"
#include "common/ComPtr.h"
#include "common/RequestTrace.h"
#include "module/ComObject.h"
#include "plugin/ItemFormat.h"
#include "settings/SettingsLight.h"
#include "settings/VaultViewCache.h"
#include "settings/ViewIdentity.h"
#include "tools/common/CompoundHeaderFile.h"
#include "tools/common/DateText.h"
#include "tools/itemhost/Report.h"

namespace {

const char* CallName(RequestCall call) {
    switch (call) {
        case RequestCall::CreateNavigator: return "CreateNavigator";
        case RequestCall::GetReferences: return "GetReferences";
        case RequestCall::GetProperty: return "GetProperty";
        default: return "none";
    }
}

// The reason's code, and the verdict a person reads beside it.
std::pair<const char*, const char*> ReasonTexts(ViewReason reason) {
    switch (reason) {
        case ViewReason::Taken: return {"taken", "taken: the first registered view of this vault"};
        case ViewReason::OtherVault: return {"otherVault", "passed over: a view of another vault"};
        case ViewReason::NoViewId: return {"noViewId", "passed over: its desktop.ini has no valid \"ViewID\""};
        case ViewReason::NoVaultId: return {"noVaultId", "passed over: its desktop.ini has no valid \"VaultID\""};
        case ViewReason::NoFolder:
            return {"noFolder", "passed over: its \"ShellRoot\" gives no folder (not a string, or empty)"};
        case ViewReason::NoShellRoot:
            return {"noShellRoot", "passed over: no \"ShellRoot\" value, so no registered view"};
        case ViewReason::Unopenable: return {"unopenable", "passed over: the registration cannot be opened"};
        default: return {"notExamined", "not examined: the lookup ended at an earlier view of this vault"};
    }
}

const char* BaseName(DataFolderBase base) {
    switch (base) {
        case DataFolderBase::LocalAppData: return "localAppData";
        case DataFolderBase::RoamingAppData: return "roamingAppData";
        case DataFolderBase::AppDataVariable: return "APPDATA";
        default: return "none";
    }
}

std::string TypeName(DWORD type) {
    switch (type) {
        case REG_SZ: return "REG_SZ";
        case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
        case REG_DWORD: return "REG_DWORD";
        case REG_BINARY: return "REG_BINARY";
        case REG_MULTI_SZ: return "REG_MULTI_SZ";
        case REG_QWORD: return "REG_QWORD";
        default: return "type " + std::to_string(type);
    }
}

Json GuidJson(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return Utf8(text);
}

Json Result(HRESULT hr) { return ResultObject(hr, "result"); }

Json Identity(const IdentityText& id) {
    return {{"text", Utf8(id.text)}, {"parsed", id.parsed}, {"guid", id.parsed ? GuidJson(id.guid) : Json()}};
}

Json RecordJson(const RecordView& r) {
    return {{"recordVersion", r.recordVersion}, {"name", Utf8(StoredText(r.name))},
            {"path", Utf8(StoredText(r.path))}, {"itemType", r.itemType},
            {"state", r.state},                 {"linkType", r.linkType},
            {"ref1", r.ref1},                   {"ref2", r.ref2},
            {"ref3", r.ref3},                   {"ref4", r.ref4},
            {"timestamp", Number(r.timestamp)}, {"date", Utf8(DateText(r.timestamp))},
            {"timestampKind", r.timestampKind}};
}

Json ReadJson(RequestCall call) {
    return {{"call", CallName(call)}, {"attempted", false}, {"open", Result(S_OK)},
            {"bytes", 0},             {"parse", Result(S_OK)}, {"answer", Result(S_OK)}};
}

bool Exists(const Json& path) {
    return GetFileAttributesW(Text(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Recorder final : public RequestObserver {
public:
    explicit Recorder(Json& document) : doc_(document) {}

    void ItemPath(RequestCall call, int drive, bool marker, const CString& viewRoot, const CString& itemName,
                  HRESULT result) override {
        if (!Opens(doc_["itemPath"], call)) return;
        Json& step = doc_["itemPath"];
        step["check"] = Result(result);
        step["drive"] = drive >= 0 ? Json(std::string(1, static_cast<char>('A' + drive))) : Json();
        step["itemsMarker"] = marker;
        step["viewRoot"] = SUCCEEDED(result) ? Utf8(viewRoot) : "";
        step["itemName"] = Utf8(itemName);
    }

    // The first desktop.ini is the item path's view root; each later one is the
    // root of the registered view the lookup examines next.
    void DesktopIni(RequestCall call, const CString& folder, const CString& iniPath, bool found,
                    const IdentityText& view, const IdentityText& vault, bool kept) override {
        lastRoot_ = {{"call", CallName(call)},      {"folder", Utf8(folder)},    {"desktopIni", Utf8(iniPath)},
                     {"desktopIniFound", found},    {"vaultId", Identity(vault)}, {"viewId", Identity(view)},
                     {"kept", kept}};
        if (doc_["viewRoot"].is_null()) doc_["viewRoot"] = lastRoot_;
    }

    void Registrations(RequestCall call, const std::vector<RegisteredView>& registrations, bool kept) override {
        if (!Opens(doc_["views"], call)) return;
        Json considered = Json::array();
        for (const RegisteredView& met : registrations) {
            const ViewRootRead& root = met.root;
            considered.push_back(
                {{"place", met.registration.place == ViewPlace::Machine ? "machine" : "user"},
                 {"name", Utf8(met.registration.name)},
                 {"opened", met.registration.opened},
                 {"hasShellRoot", met.registration.hasShellRoot},
                 {"shellRoot", met.registration.hasShellRoot
                                   ? Json{{"from", root.place == ViewPlace::Machine ? "machine" : "user"},
                                          {"type", TypeName(root.type)},
                                          {"stored", Utf8(root.stored)},
                                          {"expanded", Utf8(root.root)}}
                                   : Json()},
                 {"root", nullptr}});
        }
        Json& views = doc_["views"];
        views["userKeyWouldBeCreated"] = false;
        views["considered"] = std::move(considered);
        views["found"] = false;
        views["name"] = "";
        views["viewCache"] = {{"agrees", true}, {"registrationsKept", kept}};
    }

    void ViewChosen(RequestCall call, std::size_t index, ViewReason reason, const CString* root,
                    const ViewIdentities* ids) override {
        Json& views = doc_["views"];
        if (!Heard(views, call) || index >= views["considered"].size()) return;
        Json& view = views["considered"][index];
        const auto [code, verdict] = ReasonTexts(reason);
        if (root) {
            view["shellRoot"]["expanded"] = Utf8(*root);
            if (!root->empty()) view["root"] = lastRoot_;
        }
        view["examined"] = root != nullptr;
        view["listed"] = ids && ids->Listed();
        view["matches"] = reason == ViewReason::Taken;
        view["taken"] = reason == ViewReason::Taken;
        view["reason"] = code;
        view["verdict"] = verdict;
        if (reason == ViewReason::Taken) {
            views["found"] = true;
            views["name"] = view["name"];
        }
    }

    void DataFolder(RequestCall call, DataFolderBase source, const CString& base, const CString& folder,
                    bool existed, bool kept) override {
        if (!Opens(doc_["dataFolder"], call)) return;
        Json& step = doc_["dataFolder"];
        step["source"] = BaseName(source);
        step["base"] = Utf8(base);
        step["folder"] = source == DataFolderBase::None ? "" : Utf8(folder);
        step["exists"] = existed;
        step["kept"] = kept;
    }

    void CacheLocation(RequestCall call, const ItemCacheLocation& location) override {
        if (!Opens(doc_["cacheFile"], call)) return;
        Json& file = doc_["cacheFile"];
        // The members the request does not tell are looked at after it, in their places.
        file["itemsFolder"] = Utf8(location.itemsFolder);
        file["itemsFolderExists"] = false;
        file["viewFolder"] = Utf8(location.viewFolder);
        file["viewFolderExists"] = false;
        file["path"] = Utf8(location.file);
        file["exists"] = false;
        file["opened"] = false;
        file["open"] = Result(S_OK);
        file["version"] = 0;
        file["sectorSize"] = 0;
        file["lockMilliseconds"] = nullptr;
        doc_["keys"] = {{"item", nullptr}, {"children", nullptr}};
        doc_["reads"] = {{"item", ReadJson(call)}, {"children", ReadJson(call)}};
        doc_["reads"]["item"]["record"] = nullptr;
        doc_["reads"]["children"]["records"] = Json::array();
    }

    void CacheLock(RequestCall call, bool held, DWORD waitMs) override {
        if (Heard(doc_["cacheFile"], call)) doc_["cacheFile"]["lockMilliseconds"] = held ? Json(waitMs) : Json();
    }

    void CacheOpen(RequestCall call, bool existed, HRESULT result) override {
        Json& file = doc_["cacheFile"];
        if (!Heard(file, call)) return;
        file["exists"] = existed;
        file["opened"] = existed && SUCCEEDED(result);
        file["open"] = Result(result);
    }

    void RecordStream(RequestCall call, bool children, const CString& key, const std::vector<CString>& storages,
                      const CString& stream, HRESULT openResult, std::size_t bytes) override {
        if (doc_["keys"].is_null()) return;
        const char* which = children ? "children" : "item";
        Json& read = doc_["reads"][which];
        if (read["attempted"] == true) return;
        read["call"] = CallName(call);
        Json names = Json::array();
        for (const CString& storage : storages) names.push_back(Utf8(storage));
        doc_["keys"][which] = {{"call", CallName(call)}, {"key", Utf8(key)}, {"storages", names},
                               {"stream", Utf8(stream)}};
        read["attempted"] = true;
        read["open"] = read["answer"] = Result(openResult);
        read["bytes"] = bytes;
    }

    void ItemRecord(RequestCall call, std::span<const std::byte> bytes, const ItemObject&, HRESULT result) override {
        Json& read = doc_["reads"]["item"];
        if (!Heard(read, call) || !read["record"].is_null()) return;
        // The plug-in's own parse of the same bytes, which keeps the version and the texts as stored.
        RecordView record;
        RecordCursor cursor(bytes);
        static_cast<void>(ParseRecord(cursor, record));
        read["record"] = RecordJson(record);
        read["parse"] = read["answer"] = Result(result);
    }

    void Child(RequestCall call, const RecordView& child, bool shown) override {
        Json& read = doc_["reads"]["children"];
        if (!Heard(read, call)) return;
        Json record = RecordJson(child);
        record["shown"] = shown;
        read["records"].push_back(std::move(record));
    }

    void ChildList(RequestCall call, HRESULT result) override {
        Json& read = doc_["reads"]["children"];
        if (Heard(read, call)) read["parse"] = read["answer"] = Result(result);
    }

private:
    // A step's section opens with the first call that reaches it.
    static bool Opens(Json& section, RequestCall call) {
        if (!section.is_null()) return false;
        section = {{"call", CallName(call)}};
        return true;
    }
    // What the call that opened section tells of it.
    static bool Heard(const Json& section, RequestCall call) {
        return section.is_object() && section.value("call", "") == CallName(call);
    }

    Json& doc_;
    Json lastRoot_;
};

}  // namespace

Json ExplainItem(const std::wstring& path, ExplainOptions options) {
    Json doc = {{"path", Utf8(path)}};
    for (const char* step : {"itemPath", "viewRoot", "views", "dataFolder", "cacheFile", "keys", "reads"}) {
        doc[step] = nullptr;
    }

    // The host's own calls on the plug-in's own road, told to the recorder;
    // the read-only policy keeps the road from creating anything.
    Recorder recorder(doc);
    ReadOnlyPolicy readOnly;
    RequestContext context{&recorder, &readOnly};
    ItemAnswer answer;
    {
        ScopedRequest request(context);
        ComPtr<IPlxFileFormat> format;
        answer.navigatorResult = CreateComInstance<CItemFormat>(nullptr, IID_IPlxFileFormat, format.PutVoid());
        if (SUCCEEDED(answer.navigatorResult)) answer = AskItem(format.Get(), path, options.hideType3);
    }
    Json references;
    if (SUCCEEDED(answer.navigatorResult)) {
        references = ResultObject(answer.referencesResult, "result");
        references["count"] = answer.references.size();
    }
    doc["answer"] = {{"navigator", Result(answer.navigatorResult)}, {"references", references}};
    if (SUCCEEDED(answer.navigatorResult)) {
        doc["answer"]["date"] = ResultObject(answer.dateResult, "result");
        doc["answer"]["date"]["date"] = SUCCEEDED(answer.dateResult) ? Json(Utf8(DateText(answer.date))) : Json();
    }
    Json& wouldCreate = doc["wouldCreate"] = Json::array();
    for (const CString& change : readOnly.Changes()) {
        wouldCreate.push_back(Utf8(change));
        if (change.rfind(L"HKCU\\", 0) == 0 && doc["views"].is_object()) doc["views"]["userKeyWouldBeCreated"] = true;
    }

    // What the road does not ask but an engineer wants to see beside it.
    if (Json& views = doc["views"]; views.is_object()) {
        const VaultViewCache::Reads reads = ProcessVaultViews().ReadCounts();
        views["viewCache"]["registrationReads"] = reads.registrations;
        views["viewCache"]["folderReads"] = reads.folders;
    }
    if (Json& file = doc["cacheFile"]; file.is_object()) {
        file["itemsFolderExists"] = Exists(file["itemsFolder"]);
        file["viewFolderExists"] = Exists(file["viewFolder"]);
        const CompoundHeader header = file["exists"] == true ? ReadCompoundHeader(Text(file["path"])) : CompoundHeader{};
        const bool read = SUCCEEDED(header.result) && header.signature;
        file["version"] = read ? header.majorVersion : 0;
        file["sectorSize"] = read ? header.SectorSize() : 0;
    }
    return doc;
}

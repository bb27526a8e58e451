// The explanation of a request for a person (numbered steps) and as JSON.
#include <objbase.h>

#include <cwchar>

#include "common/HostResults.h"
#include "tools/common/DateText.h"
#include "tools/common/Json.h"
#include "tools/common/ResultText.h"
#include "tools/itemhost/Explain.h"

namespace {

std::wstring GuidString(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

const wchar_t* PlaceName(ViewPlace place) { return place == ViewPlace::Machine ? L"machine" : L"user"; }

const wchar_t* PlaceKey(ViewPlace place) { return place == ViewPlace::Machine ? L"Databases" : L"Vaults"; }

const wchar_t* BaseName(DataFolderBase base) {
    switch (base) {
        case DataFolderBase::LocalAppData: return L"localAppData";
        case DataFolderBase::RoamingAppData: return L"roamingAppData";
        case DataFolderBase::AppDataVariable: return L"APPDATA";
        default: return L"none";
    }
}

const wchar_t* BaseText(DataFolderBase base) {
    switch (base) {
        case DataFolderBase::LocalAppData: return L"the local application data folder";
        case DataFolderBase::RoamingAppData: return L"the roaming application data folder (no local one)";
        case DataFolderBase::AppDataVariable: return L"the APPDATA variable (no special folder)";
        default: return L"none: no application data folder and no APPDATA";
    }
}

std::wstring TypeName(DWORD type) {
    switch (type) {
        case REG_SZ: return L"REG_SZ";
        case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
        case REG_DWORD: return L"REG_DWORD";
        case REG_BINARY: return L"REG_BINARY";
        case REG_MULTI_SZ: return L"REG_MULTI_SZ";
        case REG_QWORD: return L"REG_QWORD";
        default: return L"type " + std::to_wstring(type);
    }
}

std::wstring IdentityLine(const IdentityReport& id) {
    if (!id.read) return L"missing";
    return Quoted(id.text) + (id.parsed ? L" = " + GuidString(id.guid) : std::wstring(L" (no GUID)"));
}

std::wstring Found(bool found) { return found ? L"exists" : L"missing"; }

std::wstring KeyLine(const KeyReport& key) {
    std::wstring line = Quoted(key.key) + L" -> ";
    for (const auto& storage : key.storages) line += L"storage " + Quoted(storage) + L" / ";
    return line + L"stream " + Quoted(key.stream);
}

std::wstring ReadLine(const ReadReport& read) {
    if (!read.attempted) return L"not read";
    std::wstring line = DescribeResult(read.result);
    if (SUCCEEDED(read.openResult)) line += L" (" + std::to_wstring(read.streamBytes) + L" bytes)";
    return line;
}

std::wstring RecordLine(const RecordReport& r) {
    return L"version " + std::to_wstring(r.recordVersion) + L", type " + std::to_wstring(r.itemType) + L", state " +
           std::to_wstring(r.state) + L", link " + std::to_wstring(r.linkType) + L", refs " + std::to_wstring(r.ref1) +
           L"/" + std::to_wstring(r.ref2) + L"/" + std::to_wstring(r.ref3) + L"/" + std::to_wstring(r.ref4) +
           L", date " + DateText(r.timestamp) + L" (kind " + std::to_wstring(r.timestampKind) + L"), name " +
           Quoted(r.name) + L", path " + Quoted(r.path);
}

void Line(std::wstring& out, const wchar_t* label, const std::wstring& text) {
    std::wstring padded = std::wstring(L"    ") + label;
    if (padded.size() < 20) padded.append(20 - padded.size(), L' ');
    out += padded + L" " + text + L"\n";
}

void Result(JsonWriter& json, const wchar_t* name, HRESULT hr) {
    json.BeginObject(name).Field(L"result", HexResult(hr)).Field(L"meaning", ResultMeaning(hr)).End();
}

void Identity(JsonWriter& json, const wchar_t* name, const IdentityReport& id) {
    json.BeginObject(name).Field(L"text", id.text).Field(L"parsed", id.parsed);
    if (id.parsed) {
        json.Field(L"guid", GuidString(id.guid));
    } else {
        json.Null(L"guid");
    }
    json.End();
}

void Root(JsonWriter& json, const wchar_t* name, const ViewRootReport& root) {
    json.BeginObject(name)
        .Field(L"folder", root.folder)
        .Field(L"desktopIni", root.iniPath)
        .Field(L"desktopIniFound", root.iniFound);
    Identity(json, L"vaultId", root.vaultId);
    Identity(json, L"viewId", root.viewId);
    json.End();
}

void Key(JsonWriter& json, const wchar_t* name, const KeyReport& key) {
    json.BeginObject(name).Field(L"key", key.key).BeginArray(L"storages");
    for (const auto& storage : key.storages) json.Element(storage);
    json.End().Field(L"stream", key.stream).End();
}

void Record(JsonWriter& json, const wchar_t* name, const RecordReport& r, bool child) {
    json.BeginObject(name)
        .Field(L"recordVersion", static_cast<long long>(r.recordVersion))
        .Field(L"name", r.name)
        .Field(L"path", r.path)
        .Field(L"itemType", static_cast<long long>(r.itemType))
        .Field(L"state", static_cast<long long>(r.state))
        .Field(L"linkType", static_cast<long long>(r.linkType))
        .Field(L"ref1", static_cast<long long>(r.ref1))
        .Field(L"ref2", static_cast<long long>(r.ref2))
        .Field(L"ref3", static_cast<long long>(r.ref3))
        .Field(L"ref4", static_cast<long long>(r.ref4))
        .Field(L"timestamp", r.timestamp)
        .Field(L"date", DateText(r.timestamp))
        .Field(L"timestampKind", static_cast<long long>(r.timestampKind));
    if (child) json.Field(L"shown", r.shown);
    json.End();
}

void Read(JsonWriter& json, const wchar_t* name, const ReadReport& read) {
    json.BeginObject(name).Field(L"attempted", read.attempted);
    Result(json, L"open", read.openResult);
    json.Field(L"bytes", static_cast<long long>(read.streamBytes));
    Result(json, L"parse", read.parseResult);
    Result(json, L"answer", read.result);
}

}  // namespace

std::wstring ExplanationText(const ItemExplanation& e) {
    std::wstring out = L"Item: " + e.path + L"\n";

    out += L" 1. Item path\n";
    Line(out, L"drive letter:", e.drive >= 0 ? std::wstring(1, static_cast<wchar_t>(L'A' + e.drive)) + L":"
                                             : std::wstring(L"none (no drive letter: no item path)"));
    if (e.drive >= 0) Line(out, L"\"<items>\":", e.hasMarker ? L"found" : L"missing (case-sensitive): no item path");
    if (SUCCEEDED(e.pathResult)) Line(out, L"view root:", e.viewRoot);
    Line(out, L"item name:", e.itemName);

    if (SUCCEEDED(e.pathResult)) {
        out += L" 2. View root\n";
        Line(out, L"desktop.ini:", e.viewRootIni.iniPath + (e.viewRootIni.iniFound ? L" (found)" : L" (missing)"));
        Line(out, L"VaultID:", IdentityLine(e.viewRootIni.vaultId));
        Line(out, L"ViewID:", IdentityLine(e.viewRootIni.viewId));
        if (!e.vaultFound) Line(out, L"vault:", L"none: without a vault there is no cache to read");
    }

    if (e.vaultFound) {
        out += L" 3. Registered views (machine \"Databases\", then user \"Vaults\")\n";
        if (e.userKeyWouldBeCreated) {
            Line(out, L"user key:", L"missing: the plug-in creates it (empty) when it reads the registrations anew");
        }
        if (e.views.empty()) Line(out, L"registrations:", L"none");
        for (const ViewCandidate& v : e.views) {
            out += L"    " + std::wstring(PlaceName(v.place)) + L" " + PlaceKey(v.place) + L"\\" + v.name + L"\n";
            if (v.hasShellRoot) {
                out += L"        ShellRoot (" + TypeName(v.rootType) + L", from the " + PlaceName(v.rootPlace) +
                       L" registration): " + Quoted(v.rootStored);
                if (!v.rootExpanded.empty() && v.rootExpanded != v.rootStored) out += L" -> " + v.rootExpanded;
                out += L"\n";
                if (v.examined && !v.rootExpanded.empty()) {
                    out += L"        " + v.root.iniPath + (v.root.iniFound ? L"" : L" (missing)") + L": VaultID " +
                           IdentityLine(v.root.vaultId) + L", ViewID " + IdentityLine(v.root.viewId) + L"\n";
                }
            }
            out += L"        " + v.verdict + L"\n";
        }
        Line(out, L"view name:", e.viewFound ? Quoted(e.viewName)
                                             : std::wstring(L"none: no registered view of this vault; the cache "
                                                            L"folder name stays empty"));
        Line(out, L"view cache:", std::wstring(e.registrationsKept
                                                   ? L"registrations kept from an earlier read (unchanged since)"
                                                   : L"registrations read anew") +
                                      L" (in this process: registration reads " +
                                      std::to_wstring(e.viewCacheRegistrationReads) + L", desktop.ini reads " +
                                      std::to_wstring(e.viewCacheFolderReads) + L")");

        out += L" 4. Per-user data folder\n";
        Line(out, L"found through:", BaseText(e.dataFolderBase));
        if (!e.dataFolder.empty()) {
            Line(out, L"base:", e.dataFolderBaseFolder);
            Line(out, L"data folder:", e.dataFolder + L" (" + Found(e.dataFolderExists) + L")");
        }
    }

    if (!e.dataFolder.empty()) {
        out += L" 5. Cache file\n";
        Line(out, L"items folder:", e.itemsFolder + L" (" + Found(e.itemsFolderExists) + L")");
        Line(out, L"view folder:", e.viewFolder + L" (" + Found(e.viewFolderExists) + L")");
        std::wstring file = e.cachePath + L" (" + Found(e.cacheExists);
        if (e.headerVersion) {
            file += L"; compound file version " + std::to_wstring(e.headerVersion) + L", " +
                    std::to_wstring(e.sectorSize) + L"-byte sectors";
        }
        Line(out, L"cache file:", file + L")");
        if (e.cacheExists && !e.cacheOpened) Line(out, L"open:", DescribeResult(e.cacheOpenResult));
        Line(out, L"cache lock:", e.lockMilliseconds >= 0 ? L"taken after " + std::to_wstring(
                                                                static_cast<long long>(e.lockMilliseconds)) + L" ms"
                                                          : std::wstring(L"not obtained (read unguarded)"));

        out += L" 6. Keys (30 code units per storage name + \"F\", the last 1-30 name the stream + \"S\")\n";
        const std::wstring unused = L"not used: the host asks for references only from a navigator it received";
        Line(out, L"item key:", KeyLine(e.itemKey));
        Line(out, L"children key:", e.childrenRead.attempted ? KeyLine(e.childrenKey) : unused);

        out += L" 7. Reads\n";
        if (!e.cacheExists) {
            Line(out, L"item record:", L"none: the plug-in would create an empty cache, which lacks the item");
        } else {
            Line(out, L"item record:", ReadLine(e.itemRead));
            if (e.item) Line(out, L"", RecordLine(*e.item));
            Line(out, L"children:", ReadLine(e.childrenRead));
            for (const RecordReport& child : e.children) {
                Line(out, L"", (child.shown ? L"shown:  " : L"hidden: ") + RecordLine(child));
            }
        }
    }

    out += L" 8. Answer\n";
    Line(out, L"CreateNavigator:", DescribeResult(e.navigatorResult));
    if (SUCCEEDED(e.navigatorResult)) {
        Line(out, L"GetReferences:", DescribeResult(e.referencesResult) + L", " + std::to_wstring(e.referenceCount) +
                                         L" references");
    }
    if (!e.wouldCreate.empty()) {
        out += L" Would create (nothing was created here)\n";
        for (const auto& item : e.wouldCreate) out += L"    " + item + L"\n";
    }
    return out;
}

std::string ExplanationJson(const ItemExplanation& e) {
    JsonWriter json;
    json.BeginObject().Field(L"path", e.path);

    json.BeginObject(L"itemPath");
    Result(json, L"check", e.pathResult);
    if (e.drive >= 0) {
        json.Field(L"drive", std::wstring(1, static_cast<wchar_t>(L'A' + e.drive)));
    } else {
        json.Null(L"drive");
    }
    json.Field(L"itemsMarker", e.hasMarker).Field(L"viewRoot", e.viewRoot).Field(L"itemName", e.itemName).End();

    if (SUCCEEDED(e.pathResult)) {
        Root(json, L"viewRoot", e.viewRootIni);
    } else {
        json.Null(L"viewRoot");
    }

    if (e.vaultFound) {
        json.BeginObject(L"views").Field(L"userKeyWouldBeCreated", e.userKeyWouldBeCreated).BeginArray(L"considered");
        for (const ViewCandidate& v : e.views) {
            json.BeginObject()
                .Field(L"place", PlaceName(v.place))
                .Field(L"name", v.name)
                .Field(L"opened", v.opened)
                .Field(L"hasShellRoot", v.hasShellRoot);
            if (v.hasShellRoot) {
                json.BeginObject(L"shellRoot")
                    .Field(L"from", PlaceName(v.rootPlace))
                    .Field(L"type", TypeName(v.rootType))
                    .Field(L"stored", v.rootStored)
                    .Field(L"expanded", v.rootExpanded)
                    .End();
                if (v.examined && !v.rootExpanded.empty()) {
                    Root(json, L"root", v.root);
                } else {
                    json.Null(L"root");
                }
            } else {
                json.Null(L"shellRoot").Null(L"root");
            }
            json.Field(L"examined", v.examined).Field(L"listed", v.listed).Field(L"matches", v.matches);
            json.Field(L"taken", v.chosen);
            json.Field(L"verdict", v.verdict).End();
        }
        json.End().Field(L"found", e.viewFound).Field(L"name", e.viewName);
        json.BeginObject(L"viewCache")
            .Field(L"agrees", e.viewCacheAgrees)
            .Field(L"registrationsKept", e.registrationsKept)
            .Field(L"registrationReads", static_cast<long long>(e.viewCacheRegistrationReads))
            .Field(L"folderReads", static_cast<long long>(e.viewCacheFolderReads))
            .End()
            .End();
        json.BeginObject(L"dataFolder")
            .Field(L"source", BaseName(e.dataFolderBase))
            .Field(L"base", e.dataFolderBaseFolder)
            .Field(L"folder", e.dataFolder)
            .Field(L"exists", e.dataFolderExists)
            .End();
    } else {
        json.Null(L"views").Null(L"dataFolder");
    }

    if (!e.dataFolder.empty()) {
        json.BeginObject(L"cacheFile")
            .Field(L"itemsFolder", e.itemsFolder)
            .Field(L"itemsFolderExists", e.itemsFolderExists)
            .Field(L"viewFolder", e.viewFolder)
            .Field(L"viewFolderExists", e.viewFolderExists)
            .Field(L"path", e.cachePath)
            .Field(L"exists", e.cacheExists)
            .Field(L"opened", e.cacheOpened);
        Result(json, L"open", e.cacheOpenResult);
        json.Field(L"version", e.headerVersion).Field(L"sectorSize", e.sectorSize);
        if (e.lockMilliseconds >= 0) {
            json.Field(L"lockMilliseconds", e.lockMilliseconds);
        } else {
            json.Null(L"lockMilliseconds");
        }
        json.End();
        json.BeginObject(L"keys");
        Key(json, L"item", e.itemKey);
        if (e.childrenRead.attempted) {
            Key(json, L"children", e.childrenKey);
        } else {
            json.Null(L"children");
        }
        json.End();
        json.BeginObject(L"reads");
        Read(json, L"item", e.itemRead);
        if (e.item) {
            Record(json, L"record", *e.item, false);
        } else {
            json.Null(L"record");
        }
        json.End();
        Read(json, L"children", e.childrenRead);
        json.BeginArray(L"records");
        for (const RecordReport& child : e.children) Record(json, nullptr, child, true);
        json.End().End().End();
    } else {
        json.Null(L"cacheFile").Null(L"keys").Null(L"reads");
    }

    json.BeginObject(L"answer");
    Result(json, L"navigator", e.navigatorResult);
    if (SUCCEEDED(e.navigatorResult)) {
        json.BeginObject(L"references")
            .Field(L"result", HexResult(e.referencesResult))
            .Field(L"meaning", ResultMeaning(e.referencesResult))
            .Field(L"count", static_cast<long long>(e.referenceCount))
            .End();
    } else {
        json.Null(L"references");
    }
    json.End().BeginArray(L"wouldCreate");
    for (const auto& item : e.wouldCreate) json.Element(item);
    json.End().End();
    return json.Text();
}

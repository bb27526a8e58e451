// The --explain document for a person: numbered steps, read from the document
// itself, so that the text and the JSON never say different things.
#include "settings/AppKey.h"
#include "tools/common/DateText.h"
#include "tools/common/ResultText.h"
#include "tools/itemhost/Explain.h"

namespace {

std::wstring Quoted(const Json& text) { return L"\"" + Text(text) + L"\""; }
std::wstring Number(const Json& value) { return Text(Json(value.dump())); }
bool Succeeded(const Json& result) { return result.at("result") == "0x00000000"; }
std::wstring Described(const Json& result) { return Text(result.at("result")) + L": " + Text(result.at("meaning")); }
std::wstring Found(const Json& exists) { return exists == true ? L"exists" : L"missing"; }

std::wstring IdentityLine(const Json& id) {
    if (id.at("text") == "") return L"missing";
    return Quoted(id.at("text")) + (id.at("parsed") == true ? L" = " + Text(id.at("guid")) : L" (no GUID)");
}

std::wstring KeyLine(const Json& key) {
    std::wstring line = Quoted(key.at("key")) + L" -> ";
    for (const Json& storage : key.at("storages")) line += L"storage " + Quoted(storage) + L" / ";
    return line + L"stream " + Quoted(key.at("stream"));
}

std::wstring ReadLine(const Json& read) {
    if (read.at("attempted") != true) return L"not read";
    std::wstring line = Described(read.at("answer"));
    if (Succeeded(read.at("open"))) line += L" (" + Number(read.at("bytes")) + L" bytes)";
    return line;
}

std::wstring RecordLine(const Json& r) {
    return L"version " + Number(r.at("recordVersion")) + L", type " + Number(r.at("itemType")) + L", state " +
           Number(r.at("state")) + L", link " + Number(r.at("linkType")) + L", refs " + Number(r.at("ref1")) + L"/" +
           Number(r.at("ref2")) + L"/" + Number(r.at("ref3")) + L"/" + Number(r.at("ref4")) + L", date " +
           Text(r.at("date")) + L" (kind " + Number(r.at("timestampKind")) + L"), name " + Quoted(r.at("name")) +
           L", path " + Quoted(r.at("path"));
}

std::wstring BaseText(const Json& source) {
    if (source == "localAppData") return L"the local application data folder";
    if (source == "roamingAppData") return L"the roaming application data folder (no local one)";
    if (source == "APPDATA") return L"the APPDATA variable (no special folder)";
    return L"none: no application data folder and no APPDATA";
}

void Line(std::wstring& out, const wchar_t* label, const std::wstring& text) {
    std::wstring padded = std::wstring(L"    ") + label;
    if (padded.size() < 20) padded.append(20 - padded.size(), L' ');
    out += padded + L" " + text + L"\n";
}

void ItemPathText(std::wstring& out, const Json& step) {
    out += L" 1. Item path\n";
    const bool split = Succeeded(step.at("check"));
    Line(out, L"drive letter:", step.at("drive").is_null() ? std::wstring(L"none (no drive letter: no item path)")
                                                           : Text(step.at("drive")) + L":");
    if (!step.at("drive").is_null()) {
        Line(out, L"\"<items>\":", step.at("itemsMarker") == true ? L"found" : L"missing (case-sensitive): no item path");
    }
    if (split) Line(out, L"view root:", Text(step.at("viewRoot")));
    Line(out, L"item name:", Text(step.at("itemName")));
}

void ViewRootText(std::wstring& out, const Json& root) {
    out += L" 2. View root\n";
    Line(out, L"desktop.ini:", Text(root.at("desktopIni")) + (root.at("desktopIniFound") == true ? L" (found)" : L" (missing)"));
    Line(out, L"VaultID:", IdentityLine(root.at("vaultId")));
    Line(out, L"ViewID:", IdentityLine(root.at("viewId")));
    if (root.at("vaultId").at("parsed") != true) Line(out, L"vault:", L"none: without a vault there is no cache to read");
}

void ViewsText(std::wstring& out, const Json& views) {
    out += std::wstring(L" 3. Registered views (machine \"") + kMachineViewsKey + L"\", then user \"" + kUserViewsKey + L"\")\n";
    if (views.at("userKeyWouldBeCreated") == true) {
        Line(out, L"user key:", L"missing: the plug-in creates it (empty) when it reads the registrations anew");
    }
    if (views.at("considered").empty()) Line(out, L"registrations:", L"none");
    for (const Json& v : views.at("considered")) {
        const bool machine = v.at("place") == "machine";
        out += std::wstring(L"    ") + (machine ? L"machine " : L"user ") + (machine ? kMachineViewsKey : kUserViewsKey) +
               L"\\" + Text(v.at("name")) + L"\n";
        if (const Json& shellRoot = v.at("shellRoot"); shellRoot.is_object()) {
            out += L"        ShellRoot (" + Text(shellRoot.at("type")) + L", from the " + Text(shellRoot.at("from")) +
                   L" registration): " + Quoted(shellRoot.at("stored"));
            if (shellRoot.at("expanded") != "" && shellRoot.at("expanded") != shellRoot.at("stored")) {
                out += L" -> " + Text(shellRoot.at("expanded"));
            }
            out += L"\n";
        }
        if (const Json& root = v.at("root"); root.is_object()) {
            out += L"        " + Text(root.at("desktopIni")) + (root.at("desktopIniFound") == true ? L"" : L" (missing)") +
                   L": VaultID " + IdentityLine(root.at("vaultId")) + L", ViewID " + IdentityLine(root.at("viewId")) + L"\n";
        }
        out += L"        " + Text(v.value("verdict", Json(""))) + L"\n";
    }
    Line(out, L"view name:", views.at("found") == true
                                 ? Quoted(views.at("name"))
                                 : std::wstring(L"none: no registered view of this vault; the cache folder name stays empty"));
    const Json& cache = views.at("viewCache");
    Line(out, L"view cache:", std::wstring(cache.at("registrationsKept") == true
                                               ? L"registrations kept from an earlier read (unchanged since)"
                                               : L"registrations read anew") +
                                  L" (in this process: registration reads " + Number(cache.at("registrationReads")) +
                                  L", desktop.ini reads " + Number(cache.at("folderReads")) + L")");
}

void DataFolderText(std::wstring& out, const Json& data) {
    out += L" 4. Per-user data folder\n";
    Line(out, L"found through:", BaseText(data.at("source")));
    if (data.at("folder") == "") return;
    Line(out, L"base:", Text(data.at("base")));
    Line(out, L"data folder:", Text(data.at("folder")) + L" (" + Found(data.at("exists")) + L")");
}

void CacheFileText(std::wstring& out, const Json& file) {
    out += L" 5. Cache file\n";
    Line(out, L"items folder:", Text(file.at("itemsFolder")) + L" (" + Found(file.at("itemsFolderExists")) + L")");
    Line(out, L"view folder:", Text(file.at("viewFolder")) + L" (" + Found(file.at("viewFolderExists")) + L")");
    std::wstring line = Text(file.at("path")) + L" (" + Found(file.at("exists"));
    if (file.at("version") != 0) {
        line += L"; compound file version " + Number(file.at("version")) + L", " + Number(file.at("sectorSize")) +
                L"-byte sectors";
    }
    Line(out, L"cache file:", line + L")");
    if (file.at("exists") == true && file.at("opened") != true) Line(out, L"open:", Described(file.at("open")));
    const Json& lock = file.at("lockMilliseconds");
    Line(out, L"cache lock:", lock.is_null() ? L"not obtained (read unguarded)" : L"taken after " + Number(lock) + L" ms");
}

void KeysAndReadsText(std::wstring& out, const Json& keys, const Json& reads, bool cacheExists) {
    out += L" 6. Keys (30 code units per storage name + \"F\", the last 1-30 name the stream + \"S\")\n";
    if (keys.at("item").is_object()) Line(out, L"item key:", KeyLine(keys.at("item")));
    Line(out, L"children key:", keys.at("children").is_object()
                                    ? KeyLine(keys.at("children"))
                                    : L"not used: the host asks for references only from a navigator it received");
    out += L" 7. Reads\n";
    if (!cacheExists) {
        Line(out, L"item record:", L"none: the plug-in would create an empty cache, which lacks the item");
        return;
    }
    const Json& item = reads.at("item");
    Line(out, L"item record:", ReadLine(item));
    if (item.at("record").is_object()) Line(out, L"", RecordLine(item.at("record")));
    const Json& children = reads.at("children");
    Line(out, L"children:", ReadLine(children));
    for (const Json& child : children.at("records")) {
        Line(out, L"", (child.at("shown") == true ? L"shown:  " : L"hidden: ") + RecordLine(child));
    }
}

}  // namespace

std::wstring ExplanationText(const Json& e) {
    std::wstring out = L"Item: " + Text(e.at("path")) + L"\n";
    if (e.at("itemPath").is_object()) ItemPathText(out, e.at("itemPath"));
    if (e.at("viewRoot").is_object()) ViewRootText(out, e.at("viewRoot"));
    if (e.at("views").is_object()) ViewsText(out, e.at("views"));
    if (e.at("dataFolder").is_object()) DataFolderText(out, e.at("dataFolder"));
    if (e.at("cacheFile").is_object()) {
        CacheFileText(out, e.at("cacheFile"));
        KeysAndReadsText(out, e.at("keys"), e.at("reads"), e.at("cacheFile").at("exists") == true);
    }

    const Json& answer = e.at("answer");
    out += L" 8. Answer\n";
    Line(out, L"CreateNavigator:", Described(answer.at("navigator")));
    if (const Json& references = answer.at("references"); references.is_object()) {
        Line(out, L"GetReferences:", Described(references) + L", " + Number(references.at("count")) + L" references");
    }
    if (answer.contains("date")) {
        const Json& date = answer.at("date");
        Line(out, L"GetProperty(1):", Succeeded(date) ? Text(date.at("date")) : Described(date));
    }
    if (!e.at("wouldCreate").empty()) {
        out += L" Would create (nothing was created here)\n";
        for (const Json& change : e.at("wouldCreate")) out += L"    " + Text(change) + L"\n";
    }
    return out;
}

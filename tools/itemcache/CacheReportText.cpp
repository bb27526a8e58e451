// The inspector's document for people: every line is read from the JSON
// document, so the two views cannot disagree.
#include <cstdlib>

#include "tools/common/Table.h"
#include "tools/itemcache/CacheInspection.h"

namespace {

bool Failed(const Json& result) {
    return std::strtoul(result.at("code").get_ref<const std::string&>().c_str(), nullptr, 16) & 0x80000000u;
}

std::wstring Described(const Json& result) { return Text(result.at("code")) + L": " + Text(result.at("meaning")); }

std::wstring HeaderText(const Json& header) {
    if (header.at("bytesRead") == 0) return L"unreadable (" + Described(header.at("result")) + L")";
    if (!header.at("signature")) return L"no compound-file signature";
    std::wstring text = L"compound file version " + Text(header.at("majorVersion")) + L", " +
                        (header.at("sectorSize") != 0 ? Text(header.at("sectorSize")) + L"-byte sectors"
                                                      : L"sector shift " + Text(header.at("sectorShift")));
    if (Failed(header.at("result"))) text += L" (header cut short: " + Text(header.at("bytesRead")) + L" bytes)";
    return text;
}

std::wstring OpeningText(const Json& report) {
    std::wstring out = L"File:        " + Text(report.at("file"));
    if (report.at("exists")) out += L" (" + Text(report.at("fileBytes")) + L" bytes)";
    const Json& lock = report.at("lock");
    out += L"\nLock:        " + (lock.at("timedOut")  ? std::wstring(L"not obtained: held by another process")
                                 : lock.at("held") ? L"held after " + Text(lock.at("waitMs")) + L" ms"
                                                   : std::wstring(L"no mutex handle; read unguarded"));
    if (report.at("exists") && !lock.at("timedOut")) out += L"\nHeader:      " + HeaderText(report.at("header"));
    if (report.contains("openFailure")) {
        out += L"\nOpen:        " + Text(report.at("openFailure")) + L" (" + Text(report.at("open").at("code")) + L")";
    }
    return out + L"\n";
}

std::wstring ChildrenText(const Json& children) {
    if (!children.contains("stored")) return L"-";
    if (children.at("stored").is_null()) return L"damaged";
    return Text(children.at("stored")) + (Failed(children.at("result")) ? L" (damaged)" : L"");
}

std::wstring ListText(const Json& report) {
    const Json& items = report.at("items");
    std::wstring out = L"Items:       " + Text(Json(items.size())) + L"\n";
    if (items.empty()) return out;
    Table table({L"Name", L"Children", L"Ver", L"Date", L"Kind", L"ref1", L"ref2", L"ref3", L"ref4", L"Link", L"Type",
                 L"State"});
    for (const Json& item : items) {
        std::vector<std::wstring> row = {Text(item.at("name")), ChildrenText(item.at("children"))};
        const Json& r = item.at("record");
        if (r.is_null()) {
            row.push_back(item.at("recordRead").at("code") == "0x80040213" ? L"(no item record)" : L"(record unreadable)");
        } else if (r.contains("problem")) {
            row.push_back(L"(record " + Text(r.at("problem")) + L")");
        } else {
            for (const char* member : {"version", "date", "timestampKind", "ref1", "ref2", "ref3", "ref4", "linkType",
                                       "itemType", "state"}) {
                row.push_back(Text(r.at(member)));
            }
        }
        table.Row(std::move(row));
    }
    return out + L"\n" + table.Text();
}

std::wstring ShowText(const Json& report) {
    const Json& item = report.at("items").at(0);
    const std::wstring key = Text(item.at("key"));
    std::wstring out = L"Item:        " + Text(item.at("name")) + L"  (asked as " + Text(item.at("fileName")) +
                       L", keys " + key + L"I and " + key + L"C)\n";
    const Json& r = item.at("record");
    if (r.is_null()) {
        out += L"Record:      " + Described(item.at("recordRead")) + L"\n";
    } else {
        out += L"Record:      version " + Text(r.at("version"));
        for (const char* member : {"ref1", "ref2", "ref3", "ref4", "linkType", "itemType", "state"}) {
            out += L", " + Text(Json(member)) + L" " + Text(r.at(member));
        }
        if (r.contains("problem")) out += L" (" + Text(r.at("problem")) + L")";
        out += L"\nStored date: " + Text(r.at("date")) + L" (kind " + Text(r.at("timestampKind")) + L")\n";
    }
    const Json& plugin = item.at("plugin");
    out += L"Navigator:   " + Described(plugin.at("navigator")) + L"\n";
    if (plugin.contains("date")) out += L"Host date:   " + Text(plugin.at("date")) + L"\n";
    const Json& children = item.at("children");
    out += L"Children:    ";
    if (Failed(children.at("read"))) {
        out += Described(children.at("read")) + L"\n";
    } else {
        out += (children.at("stored").is_null() ? std::wstring(L"no count") : Text(children.at("stored"))) + L" stored";
        if (Failed(children.at("result"))) out += L", list damaged (" + Described(children.at("result")) + L")";
        out += L"\n";
    }
    out += L"References:  ";
    if (Failed(plugin.at("navigator"))) {
        out += L"none: the host gets no navigator\n";
    } else if (Failed(plugin.at("references"))) {
        out += Described(plugin.at("references")) + L"\n";
    } else {
        out += Text(plugin.at("referenceCount")) + L" shown to the host" +
               (report.at("hideType3") ? L" (after SetOption(3))" : L"") +
               (plugin.at("listUnreadable") ? L": the list cannot be read, the host gets S_OK and no references" : L"") +
               L"\n";
    }
    const Json& list = item.at("childList");
    if (list.empty()) return out;
    Table table({L"#", L"Name", L"Path", L"itemType>Type", L"linkType>Link", L"state", L"ref1", L"ref3", L"ref2", L"ref4",
                 L"Host"});
    for (const Json& child : list) {
        const Json& c = child.at("stored");
        std::vector<std::wstring> row = {Text(child.at("index")), Text(c.at("name")), Text(c.at("path"))};
        if (c.contains("problem")) {
            row.push_back(L"(record " + Text(c.at("problem")) + L" at byte " + Text(c.at("offset")) + L")");
            table.Row(std::move(row));
            continue;
        }
        const Json* host = child.contains("host") ? &child.at("host") : nullptr;
        row.push_back(Text(c.at("itemType")) + L" > " + (host ? Text(host->at("typeCode")) : L"-"));
        row.push_back(Text(c.at("linkType")) + L" > " + (host ? Text(host->at("linkCode")) : L"-"));
        for (const char* member : {"state", "ref1", "ref3", "ref2", "ref4"}) row.push_back(Text(c.at(member)));
        row.push_back(host                ? std::wstring(L"shown")
                      : child.at("shown") ? std::wstring(L"not sent (list unreadable)")
                                          : L"hidden: " + Text(child.at("hiddenBecause")));
        table.Row(std::move(row));
    }
    return out + L"\n" + table.Text();
}

std::wstring CheckText(const Json& report) {
    const Json& findings = report.at("findings");
    std::wstring out = L"Elements:    " + Text(report.at("elements")) + L"\nFindings:    " +
                       Text(Json(findings.size())) + L"\n";
    if (!findings.empty()) {
        Table table({L"Severity", L"Kind", L"Finding"});
        for (const Json& f : findings) {
            const std::wstring element = Text(f.at("element"));
            table.Row({Text(f.at("severity")), Text(f.at("kind")),
                       (element.empty() ? L"" : element + L": ") + Text(f.at("detail"))});
        }
        out += table.Text();
    }
    out += L"\nWhat the plug-in answers:\n";
    Table answers({L"Name", L"Navigator", L"References"});
    for (const Json& item : report.at("items")) {
        const Json& plugin = item.at("plugin");
        const bool answered = !Failed(plugin.at("navigator"));
        answers.Row({Text(item.at("name")), Text(plugin.at("navigator").at("code")),
                     answered ? Text(plugin.at("referenceCount")) +
                                    (plugin.at("listUnreadable") ? L" (list unreadable or missing)" : L"")
                              : Text(plugin.at("navigator").at("meaning"))});
    }
    return out + answers.Text();
}

}  // namespace

std::wstring ReportText(const Json& report) {
    std::wstring out = OpeningText(report);
    const std::string command = report.at("command");
    if (!report.contains("openFailure")) {
        if (command == "list") out += ListText(report);
        if (command == "show") out += ShowText(report);
        if (command == "check") out += CheckText(report);
    }
    return out + L"\n" + Text(report.at("summary")) + L"\n";
}

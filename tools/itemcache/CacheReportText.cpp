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

std::wstring OpeningText(const Json& report) {
    const Json &lock = report.at("lock"), &header = report.at("header");
    std::wstring out = L"File:        " + Text(report.at("file"));
    if (report.at("exists")) out += L" (" + Text(report.at("fileBytes")) + L" bytes)";
    out += L"\nLock:        " + (lock.at("timedOut")  ? std::wstring(L"not obtained: held by another process")
                                 : lock.at("held") ? L"held after " + Text(lock.at("waitMs")) + L" ms"
                                                   : std::wstring(L"no mutex handle; read unguarded"));
    if (report.at("exists") && !lock.at("timedOut")) {
        out += L"\nHeader:      " + (header.at("bytesRead") == 0   ? L"unreadable (" + Described(header.at("result")) + L")"
                                    : !header.at("signature") ? std::wstring(L"no compound-file signature")
                                                              : L"compound file version " + Text(header.at("majorVersion")) +
                                                                    L", sector shift " + Text(header.at("sectorShift")));
        if (Failed(header.at("result"))) out += L" (header cut short: " + Text(header.at("bytesRead")) + L" bytes)";
    }
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
    const Json &item = report.at("items").at(0), &r = item.at("record"), &plugin = item.at("plugin");
    const Json& children = item.at("children");
    std::wstring out = L"Item:        " + Text(item.at("name")) + L"  (asked as " + Text(item.at("fileName")) + L")\n";
    out += L"Record:      ";
    if (r.is_null()) {
        out += Described(item.at("recordRead"));
    } else {
        for (const char* member : {"version", "ref1", "ref2", "ref3", "ref4", "linkType", "itemType", "state", "date",
                                   "timestampKind", "problem"}) {
            if (r.contains(member)) out += Text(Json(member)) + L" " + Text(r.at(member)) + L", ";
        }
        out.resize(out.size() - 2);
    }
    out += L"\nNavigator:   " + Described(plugin.at("navigator")) +
           (plugin.contains("date") ? L", date " + Text(plugin.at("date")) : L"") + L"\nChildren:    " +
           (Failed(children.at("read")) ? Described(children.at("read"))
                                        : ChildrenText(children) + L" stored, " + Text(children.at("readable")) +
                                              L" readable") +
           L"\nReferences:  " +
           (Failed(plugin.at("navigator")) ? std::wstring(L"none: the host gets no navigator")
                                           : Described(plugin.at("references")) + L", " +
                                                 Text(plugin.at("referenceCount")) + L" shown to the host" +
                                                 (report.at("hideType3") ? L" after SetOption(3)" : L"") +
                                                 (plugin.at("listUnreadable") ? L" (the list cannot be read)" : L"")) +
           L"\n";
    if (item.at("childList").empty()) return out;
    Table table({L"#", L"Name", L"Path", L"itemType>Type", L"linkType>Link", L"state", L"ref1", L"ref3", L"ref2", L"ref4",
                 L"Host"});
    for (const Json& child : item.at("childList")) {
        const Json& c = child.at("stored");
        std::vector<std::wstring> row = {Text(child.at("index")), Text(c.at("name")), Text(c.at("path"))};
        const Json host = child.value("host", Json());
        if (c.contains("problem")) {
            row.push_back(L"(record " + Text(c.at("problem")) + L" at byte " + Text(c.at("offset")) + L")");
        } else {
            row.push_back(Text(c.at("itemType")) + L" > " + (host.is_null() ? L"-" : Text(host.at("typeCode"))));
            row.push_back(Text(c.at("linkType")) + L" > " + (host.is_null() ? L"-" : Text(host.at("linkCode"))));
            for (const char* member : {"state", "ref1", "ref3", "ref2", "ref4"}) row.push_back(Text(c.at(member)));
            row.push_back(!host.is_null()     ? std::wstring(L"shown")
                          : child.at("shown") ? std::wstring(L"not sent (list unreadable)")
                                              : L"hidden: " + Text(child.at("hiddenBecause")));
        }
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

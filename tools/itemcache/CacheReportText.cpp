#include "tools/itemcache/CacheReportText.h"

#include <algorithm>
#include <cwchar>

#include "tools/common/DateText.h"
#include "tools/common/Json.h"
#include "tools/common/ResultText.h"

namespace {

std::wstring Num(long long value) { return std::to_wstring(value); }

std::wstring Pad(const std::wstring& text, size_t width) {
    return text.size() >= width ? text : text + std::wstring(width - text.size(), L' ');
}

std::wstring HeaderText(const CompoundHeader& header) {
    if (header.bytesRead == 0) return L"unreadable (" + DescribeResult(header.result) + L")";
    if (!header.signature) return L"no compound-file signature";
    std::wstring text = L"compound file version " + Num(header.majorVersion) + L", " +
                        (header.SectorSize() ? Num(header.SectorSize()) + L"-byte sectors" : L"sector shift " + Num(header.sectorShift));
    if (FAILED(header.result)) text += L" (header cut short: " + Num(header.bytesRead) + L" bytes)";
    return text;
}

std::wstring OpeningText(const CacheReport& report) {
    std::wstring out = L"File:        " + report.path;
    if (report.exists) out += L" (" + Num(static_cast<long long>(report.fileBytes)) + L" bytes)";
    out += L"\n";
    out += L"Lock:        " +
           (report.lockTimedOut ? std::wstring(L"not obtained: held by another process")
                                : report.lockHeld ? L"held after " + Num(report.lockWaitMs) + L" ms"
                                                  : std::wstring(L"no mutex handle; read unguarded")) +
           L"\n";
    if (report.exists && !report.lockTimedOut) out += L"Header:      " + HeaderText(report.header) + L"\n";
    if (!report.Opened()) {
        out += L"Open:        " + OpenFailureText(report) + L" (" + HexResult(report.openResult) + L")\n";
    }
    return out;
}

std::wstring ChildrenText(const ItemInfo& item) {
    if (!item.hasChildren) return L"-";
    if (!item.storedCount) return L"damaged";
    std::wstring text = Num(*item.storedCount);
    if (FAILED(item.childrenResult)) text += L" (damaged)";
    return text;
}

Json RecordJson(const RecordInfo& r) {
    Json out = {{"result", ResultObject(r.result)}, {"version", r.recordVersion}};
    if (r.nameBytes) out["nameBytes"] = *r.nameBytes;
    if (r.pathBytes) out["pathBytes"] = *r.pathBytes;
    out["name"] = Utf8(r.name);
    out["path"] = Utf8(r.path);
    out["ref1"] = r.ref1;
    out["ref2"] = r.ref2;
    out["ref3"] = r.ref3;
    out["ref4"] = r.ref4;
    out["linkType"] = r.linkType;
    out["timestamp"] = Number(r.timestamp);
    out["date"] = Utf8(DateText(r.timestamp));
    out["timestampKind"] = r.timestampKind;
    out["itemType"] = r.itemType;
    out["state"] = r.state;
    out["aux1"] = r.aux1;
    out["aux2"] = r.aux2;
    out["offset"] = r.offset;
    out["bytes"] = r.bytes;
    if (!r.problem.empty()) out["problem"] = Utf8(r.problem);
    return out;
}

Json ItemJson(const ItemInfo& item, bool withChildren) {
    Json out = {{"name", Utf8(item.name)}, {"fileName", Utf8(item.fileName)}, {"key", Utf8(item.key)},
                {"wellFormed", item.wellFormed}};
    out["record"] = item.hasRecord && SUCCEEDED(item.recordRead) ? RecordJson(item.record) : Json(nullptr);
    out["recordRead"] = ResultObject(item.recordRead);
    Json children = {{"read", ResultObject(item.childrenRead)}};
    if (item.hasChildren && SUCCEEDED(item.childrenRead)) {
        children["stored"] = item.storedCount ? Json(*item.storedCount) : Json(nullptr);
        children["readable"] = std::count_if(item.children.begin(), item.children.end(),
                                             [](const ChildInfo& c) { return SUCCEEDED(c.record.result); });
        children["result"] = ResultObject(item.childrenResult);
    }
    out["children"] = std::move(children);
    Json plugin = {{"navigator", ResultObject(item.initResult)}};
    if (SUCCEEDED(item.initResult)) plugin["date"] = Utf8(DateText(item.hostDate));
    plugin["references"] = ResultObject(item.referencesResult);
    plugin["referenceCount"] = item.referenceCount;
    plugin["listUnreadable"] = item.referencesUnreadable;
    out["plugin"] = std::move(plugin);
    if (withChildren) {
        Json list = Json::array();
        for (size_t i = 0; i < item.children.size(); ++i) {
            const ChildInfo& child = item.children[i];
            Json entry = {{"index", i}, {"stored", RecordJson(child.record)}, {"shown", child.shown}};
            if (!child.hiddenBecause.empty()) entry["hiddenBecause"] = Utf8(child.hiddenBecause);
            if (child.host) {
                entry["host"] = ToJson(*child.host);
            }
            list.push_back(std::move(entry));
        }
        out["childList"] = std::move(list);
    }
    return out;
}

std::wstring ListText(const CacheReport& report) {
    std::wstring out = L"Items:       " + Num(static_cast<long long>(report.items.size())) + L"\n";
    if (report.items.empty()) return out;
    size_t width = 4;
    for (const ItemInfo& item : report.items) width = std::max(width, item.name.size());
    out += L"\n  " + Pad(L"Name", width) + L"  Ver  Date                 Kind  ref1  ref2  ref3  ref4  Link  Type  State  Children\n";
    for (const ItemInfo& item : report.items) {
        out += L"  " + Pad(item.name, width) + L"  ";
        if (!item.hasRecord) {
            out += Pad(L"(no item record)", 65);
        } else if (FAILED(item.recordRead) || FAILED(item.record.result)) {
            out += Pad(L"(record " + (item.record.problem.empty() ? std::wstring(L"unreadable") : item.record.problem) + L")", 65);
        } else {
            const RecordInfo& r = item.record;
            out += Pad(Num(r.recordVersion), 3) + L"  " + Pad(DateText(r.timestamp), 19) + L"  " + Pad(Num(r.timestampKind), 4) +
                   L"  " + Pad(Num(r.ref1), 4) + L"  " + Pad(Num(r.ref2), 4) + L"  " + Pad(Num(r.ref3), 4) + L"  " +
                   Pad(Num(r.ref4), 4) + L"  " + Pad(Num(r.linkType), 4) + L"  " + Pad(Num(r.itemType), 4) + L"  " +
                   Pad(Num(r.state), 5);
        }
        out += L"  " + ChildrenText(item) + L"\n";
    }
    return out;
}

std::wstring ShowText(const CacheReport& report, const InspectOptions& options) {
    const ItemInfo& item = report.items.front();
    std::wstring out = L"Item:        " + item.name + L"  (asked as " + item.fileName + L", keys " + item.key + L"I and " +
                       item.key + L"C)\n";
    if (FAILED(item.recordRead)) {
        out += L"Record:      " + DescribeResult(item.recordRead) + L"\n";
    } else {
        const RecordInfo& r = item.record;
        out += L"Record:      version " + Num(r.recordVersion) + L", ref1 " + Num(r.ref1) + L", ref2 " + Num(r.ref2) +
               L", ref3 " + Num(r.ref3) + L", ref4 " + Num(r.ref4) + L", link type " + Num(r.linkType) + L", type " +
               Num(r.itemType) + L", state " + Num(r.state) + (r.problem.empty() ? L"" : L" (" + r.problem + L")") + L"\n";
        out += L"Stored date: " + DateText(r.timestamp) + L" (kind " + Num(r.timestampKind) + L")\n";
    }
    out += L"Navigator:   " + DescribeResult(item.initResult) + L"\n";
    if (SUCCEEDED(item.initResult)) out += L"Host date:   " + DateText(item.hostDate) + L"\n";
    out += L"Children:    ";
    if (FAILED(item.childrenRead)) {
        out += DescribeResult(item.childrenRead) + L"\n";
    } else {
        out += (item.storedCount ? Num(*item.storedCount) : std::wstring(L"no count")) + L" stored";
        if (FAILED(item.childrenResult)) out += L", list damaged (" + DescribeResult(item.childrenResult) + L")";
        out += L"\n";
    }
    out += L"References:  ";
    if (FAILED(item.initResult)) {
        out += L"none: the host gets no navigator\n";
    } else if (FAILED(item.referencesResult)) {
        out += DescribeResult(item.referencesResult) + L"\n";
    } else {
        out += Num(static_cast<long long>(item.referenceCount)) + L" shown to the host" +
               (options.hideType3 ? L" (after SetOption(3))" : L"") +
               (item.referencesUnreadable ? L": the list cannot be read, the host gets S_OK and no references" : L"") +
               L"\n";
    }
    if (item.children.empty()) return out;

    size_t nameWidth = 4, pathWidth = 4;
    for (const ChildInfo& c : item.children) {
        nameWidth = std::max(nameWidth, c.record.name.size());
        pathWidth = std::max(pathWidth, c.record.path.size());
    }
    out += L"\n  #   " + Pad(L"Name", nameWidth) + L"  " + Pad(L"Path", pathWidth) +
           L"  itemType>Type  linkType>Link  state  ref1  ref3  ref2  ref4  Host\n";
    for (size_t i = 0; i < item.children.size(); ++i) {
        const ChildInfo& c = item.children[i];
        const RecordInfo& r = c.record;
        out += L"  " + Pad(Num(static_cast<long long>(i)), 3) + L" " + Pad(r.name, nameWidth) + L"  " + Pad(r.path, pathWidth) + L"  ";
        if (FAILED(r.result)) {
            out += L"(record " + r.problem + L" at byte " + Num(static_cast<long long>(r.offset)) + L")\n";
            continue;
        }
        const std::wstring type = Num(r.itemType) + L" > " + (c.host ? Num(c.host->typeCode) : L"-");
        const std::wstring link = Num(r.linkType) + L" > " + (c.host ? Num(c.host->linkCode) : L"-");
        out += Pad(type, 13) + L"  " + Pad(link, 13) + L"  " + Pad(Num(r.state), 5) + L"  " + Pad(Num(r.ref1), 4) + L"  " +
               Pad(Num(r.ref3), 4) + L"  " + Pad(Num(r.ref2), 4) + L"  " + Pad(Num(r.ref4), 4) + L"  " +
               (c.host ? L"shown" : c.shown ? L"not sent (list unreadable)" : L"hidden: " + c.hiddenBecause) + L"\n";
    }
    return out;
}

std::wstring CheckText(const CacheReport& report) {
    std::wstring out;
    out += L"Elements:    " + Num(static_cast<long long>(report.elements)) + L"\n";
    out += L"Findings:    " + Num(static_cast<long long>(report.findings.size())) + L"\n";
    for (const Finding& f : report.findings) {
        out += std::wstring(L"  ") + (f.damage ? L"damage  " : L"note    ") + Pad(f.kind, 26) + L" " +
               (f.element.empty() ? L"" : f.element + L": ") + f.detail + L"\n";
    }
    out += L"\nWhat the plug-in answers:\n";
    size_t width = 4;
    for (const ItemInfo& item : report.items) width = std::max(width, item.name.size());
    for (const ItemInfo& item : report.items) {
        out += L"  " + Pad(item.name, width) + L"  navigator " + HexResult(item.initResult);
        if (SUCCEEDED(item.initResult)) {
            out += L", " + Num(static_cast<long long>(item.referenceCount)) + L" references";
            if (item.referencesUnreadable) out += L" (list unreadable or missing)";
        } else {
            out += L" (" + ResultMeaning(item.initResult) + L")";
        }
        out += L"\n";
    }
    return out;
}

std::wstring SummaryLine(Command command, const CacheReport& report) {
    if (!report.Opened()) return L"cannot open: " + OpenFailureText(report);
    const std::wstring items = Num(static_cast<long long>(report.items.size())) + (report.items.size() == 1 ? L" item" : L" items");
    if (command != Command::Check) return items;
    const size_t damage = report.DamageCount();
    const size_t notes = report.findings.size() - damage;
    return (damage ? L"damaged: " : L"sound: ") + items + L", " + Num(static_cast<long long>(damage)) +
           (damage == 1 ? L" damage finding, " : L" damage findings, ") + Num(static_cast<long long>(notes)) +
           (notes == 1 ? L" note" : L" notes");
}

const wchar_t* CommandName(Command command) {
    switch (command) {
        case Command::List: return L"list";
        case Command::Show: return L"show";
        default: return L"check";
    }
}

}  // namespace

int ExitStatus(Command command, const CacheReport& report) {
    if (!report.Opened()) return 2;
    if (command == Command::Check) return report.DamageCount() ? 1 : 0;
    if (command == Command::Show) return report.items.empty() || FAILED(report.items.front().initResult) ? 1 : 0;
    return 0;
}

std::wstring ReportText(Command command, const CacheReport& report, const InspectOptions& options) {
    std::wstring out = OpeningText(report);
    if (report.Opened()) {
        if (command == Command::List) out += ListText(report);
        if (command == Command::Show && !report.items.empty()) out += ShowText(report, options);
        if (command == Command::Check) out += CheckText(report);
    }
    return out + L"\n" + SummaryLine(command, report) + L"\n";
}

std::string ReportJson(Command command, const CacheReport& report, const InspectOptions& options) {
    const CompoundHeader& h = report.header;
    Json out = {{"command", Utf8(CommandName(command))},
                {"file", Utf8(report.path)},
                {"exists", report.exists},
                {"fileBytes", report.fileBytes},
                {"lock", {{"held", report.lockHeld}, {"timedOut", report.lockTimedOut}, {"waitMs", report.lockWaitMs}}},
                {"header",
                 {{"result", ResultObject(h.result)},
                  {"bytesRead", h.bytesRead},
                  {"signature", h.signature},
                  {"majorVersion", h.majorVersion},
                  {"minorVersion", h.minorVersion},
                  {"sectorSize", h.SectorSize()}}},
                {"open", ResultObject(report.openResult)}};
    if (!report.Opened()) out["openFailure"] = Utf8(OpenFailureText(report));
    if (command == Command::Show) out["hideType3"] = options.hideType3;
    Json items = Json::array();
    for (const ItemInfo& item : report.items) items.push_back(ItemJson(item, command == Command::Show));
    out["items"] = std::move(items);
    if (command == Command::Check) {
        Json findings = Json::array();
        for (const Finding& f : report.findings) {
            findings.push_back({{"severity", f.damage ? "damage" : "note"},
                                {"kind", Utf8(f.kind)},
                                {"element", Utf8(f.element)},
                                {"item", Utf8(f.item)},
                                {"detail", Utf8(f.detail)}});
        }
        out["findings"] = std::move(findings);
    }
    out["exitStatus"] = ExitStatus(command, report);
    out["summary"] = Utf8(SummaryLine(command, report));
    return JsonText(out);
}

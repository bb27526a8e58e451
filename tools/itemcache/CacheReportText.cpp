#include "tools/itemcache/CacheReportText.h"

#include <algorithm>
#include <cwchar>

#include "tools/itemhost/Json.h"
#include "tools/itemhost/Report.h"
#include "tools/itemhost/ResultText.h"

namespace {

std::wstring Num(long long value) { return std::to_wstring(value); }

std::wstring Pad(const std::wstring& text, size_t width) {
    return text.size() >= width ? text : text + std::wstring(width - text.size(), L' ');
}

std::wstring Json(const std::wstring& text) { return JsonString(text); }

std::wstring JsonResult(HRESULT hr) {
    return L"{\"code\": " + Json(HexResult(hr)) + L", \"meaning\": " + Json(ResultMeaning(hr)) + L"}";
}

std::wstring JsonDouble(double value) {
    wchar_t text[40];
    swprintf(text, 40, L"%.10g", value);
    return text;
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

std::wstring RecordJson(const RecordInfo& r) {
    std::wstring out = L"{\"result\": " + JsonResult(r.result) + L", \"version\": " + Num(r.recordVersion);
    if (r.nameBytes) out += L", \"nameBytes\": " + Num(*r.nameBytes);
    if (r.pathBytes) out += L", \"pathBytes\": " + Num(*r.pathBytes);
    out += L", \"name\": " + Json(r.name) + L", \"path\": " + Json(r.path);
    out += L", \"ref1\": " + Num(r.ref1) + L", \"ref2\": " + Num(r.ref2) + L", \"ref3\": " + Num(r.ref3) +
           L", \"ref4\": " + Num(r.ref4) + L", \"linkType\": " + Num(r.linkType);
    out += L", \"timestamp\": " + JsonDouble(r.timestamp) + L", \"date\": " + Json(DateText(r.timestamp)) +
           L", \"timestampKind\": " + Num(r.timestampKind);
    out += L", \"itemType\": " + Num(r.itemType) + L", \"state\": " + Num(r.state) + L", \"aux1\": " + Num(r.aux1) +
           L", \"aux2\": " + Num(r.aux2);
    out += L", \"offset\": " + Num(static_cast<long long>(r.offset)) + L", \"bytes\": " + Num(static_cast<long long>(r.bytes));
    if (!r.problem.empty()) out += L", \"problem\": " + Json(r.problem);
    return out + L"}";
}

std::wstring ItemJson(const ItemInfo& item, bool withChildren) {
    std::wstring out = L"{\"name\": " + Json(item.name) + L", \"fileName\": " + Json(item.fileName) + L", \"key\": " +
                       Json(item.key) + L", \"wellFormed\": " + (item.wellFormed ? L"true" : L"false");
    out += L", \"record\": ";
    out += item.hasRecord && SUCCEEDED(item.recordRead) ? RecordJson(item.record) : L"null";
    out += L", \"recordRead\": " + JsonResult(item.recordRead);
    out += L", \"children\": {\"read\": " + JsonResult(item.childrenRead);
    if (item.hasChildren && SUCCEEDED(item.childrenRead)) {
        out += L", \"stored\": " + (item.storedCount ? Num(*item.storedCount) : std::wstring(L"null"));
        out += L", \"readable\": " + Num(static_cast<long long>(std::count_if(
                                         item.children.begin(), item.children.end(),
                                         [](const ChildInfo& c) { return SUCCEEDED(c.record.result); })));
        out += L", \"result\": " + JsonResult(item.childrenResult);
    }
    out += L"}";
    out += L", \"plugin\": {\"navigator\": " + JsonResult(item.initResult);
    if (SUCCEEDED(item.initResult)) out += L", \"date\": " + Json(DateText(item.hostDate));
    out += L", \"references\": " + JsonResult(item.referencesResult) + L", \"referenceCount\": " +
           Num(static_cast<long long>(item.referenceCount)) + L", \"listUnreadable\": " +
           (item.referencesUnreadable ? L"true" : L"false") + L"}";
    if (withChildren) {
        out += L",\n    \"childList\": [";
        for (size_t i = 0; i < item.children.size(); ++i) {
            const ChildInfo& child = item.children[i];
            out += i ? L",\n      " : L"\n      ";
            out += L"{\"index\": " + Num(static_cast<long long>(i)) + L", \"stored\": " + RecordJson(child.record) +
                   L", \"shown\": " + (child.shown ? L"true" : L"false");
            if (!child.hiddenBecause.empty()) out += L", \"hiddenBecause\": " + Json(child.hiddenBecause);
            if (child.host) {
                const HostReference& h = *child.host;
                out += L", \"host\": {\"name\": " + Json(h.name) + L", \"path\": " + Json(h.path) + L", \"typeCode\": " +
                       Num(h.typeCode) + L", \"linkCode\": " + Num(h.linkCode) + L", \"numbers\": [";
                for (int n = 0; n < 5; ++n) out += (n ? L", " : L"") + Num(h.numbers[n]);
                out += L"]}";
            }
            out += L"}";
        }
        out += item.children.empty() ? L"]" : L"\n    ]";
    }
    return out + L"}";
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

std::wstring ReportJson(Command command, const CacheReport& report, const InspectOptions& options) {
    std::wstring out = L"{\n  \"command\": " + Json(CommandName(command)) + L",\n  \"file\": " + Json(report.path) +
                       L",\n  \"exists\": " + (report.exists ? L"true" : L"false") + L",\n  \"fileBytes\": " +
                       Num(static_cast<long long>(report.fileBytes));
    out += L",\n  \"lock\": {\"held\": " + std::wstring(report.lockHeld ? L"true" : L"false") + L", \"timedOut\": " +
           (report.lockTimedOut ? L"true" : L"false") + L", \"waitMs\": " + Num(report.lockWaitMs) + L"}";
    const CompoundHeader& h = report.header;
    out += L",\n  \"header\": {\"result\": " + JsonResult(h.result) + L", \"bytesRead\": " + Num(h.bytesRead) +
           L", \"signature\": " + (h.signature ? L"true" : L"false") + L", \"majorVersion\": " + Num(h.majorVersion) +
           L", \"minorVersion\": " + Num(h.minorVersion) + L", \"sectorSize\": " + Num(h.SectorSize()) + L"}";
    out += L",\n  \"open\": " + JsonResult(report.openResult);
    if (!report.Opened()) out += L",\n  \"openFailure\": " + Json(OpenFailureText(report));
    if (command == Command::Show) out += std::wstring(L",\n  \"hideType3\": ") + (options.hideType3 ? L"true" : L"false");
    out += L",\n  \"items\": [";
    for (size_t i = 0; i < report.items.size(); ++i) {
        out += i ? L",\n    " : L"\n    ";
        out += ItemJson(report.items[i], command == Command::Show);
    }
    out += report.items.empty() ? L"]" : L"\n  ]";
    if (command == Command::Check) {
        out += L",\n  \"findings\": [";
        for (size_t i = 0; i < report.findings.size(); ++i) {
            const Finding& f = report.findings[i];
            out += i ? L",\n    " : L"\n    ";
            out += L"{\"severity\": " + Json(f.damage ? L"damage" : L"note") + L", \"kind\": " + Json(f.kind) +
                   L", \"element\": " + Json(f.element) + L", \"item\": " + Json(f.item) + L", \"detail\": " +
                   Json(f.detail) + L"}";
        }
        out += report.findings.empty() ? L"]" : L"\n  ]";
    }
    out += L",\n  \"exitStatus\": " + Num(ExitStatus(command, report));
    out += L",\n  \"summary\": " + Json(SummaryLine(command, report)) + L"\n}\n";
    return out;
}

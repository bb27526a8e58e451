#include "tools/itemhost/Report.h"

#include <algorithm>
#include <cwchar>

#include "tools/common/DateText.h"
#include "tools/common/Json.h"
#include "tools/common/ResultText.h"

namespace {

std::wstring Decimal(long value) { return std::to_wstring(value); }

std::wstring Pad(const std::wstring& text, size_t width) {
    return text.size() >= width ? text : text + std::wstring(width - text.size(), L' ');
}

}  // namespace

std::wstring FormatText(const FormatInfo& format, const std::vector<ItemAnswer>& items) {
    std::wstring out = L"Plug-in:       " + format.source + L"\n";
    if (SUCCEEDED(format.infoResult)) {
        out += L"Maker:         " + format.maker + L"\n";
        out += L"Description:   " + format.description + L"\n";
        out += L"Extension:     " + format.extensions + L"\n";
    } else {
        out += L"Information:   " + DescribeResult(format.infoResult) + L"\n";
    }
    out += L"Capabilities:  " +
           (SUCCEEDED(format.capabilitiesResult) ? HexResult(format.capabilities) : DescribeResult(format.capabilitiesResult)) +
           L"\n";

    for (const ItemAnswer& item : items) {
        out += L"\nItem:          " + item.path + L"\n";
        if (FAILED(item.navigatorResult)) {
            out += L"Result:        " + DescribeResult(item.navigatorResult) + L"\n";
            continue;
        }
        out += L"Date:          " + (SUCCEEDED(item.dateResult) ? DateText(item.date) : DescribeResult(item.dateResult)) +
               L"\n";
        if (FAILED(item.referencesResult)) {
            out += L"References:    " + DescribeResult(item.referencesResult) + L"\n";
            continue;
        }
        out += L"References:    " + std::to_wstring(item.references.size()) + L"\n";
        if (item.references.empty()) continue;

        size_t nameWidth = 4, pathWidth = 4;
        for (const auto& row : item.references) {
            nameWidth = std::max(nameWidth, row.name.size());
            pathWidth = std::max(pathWidth, row.path.size());
        }
        out += L"  " + Pad(L"Name", nameWidth) + L"  " + Pad(L"Path", pathWidth) +
               L"  Type  Link  ref1  ref3  ref2  ref4  state\n";
        for (const auto& row : item.references) {
            out += L"  " + Pad(row.name, nameWidth) + L"  " + Pad(row.path, pathWidth) + L"  " +
                   Pad(Decimal(row.typeCode), 4) + L"  " + Pad(Decimal(row.linkCode), 4);
            for (long n : row.numbers) out += L"  " + Pad(Decimal(n), 4);
            out += L"\n";
        }
    }
    return out;
}

std::wstring FormatJson(const FormatInfo& format, const std::vector<ItemAnswer>& items) {
    Json plugin = {{"source", Utf8(format.source)}, {"infoResult", Utf8(HexResult(format.infoResult))},
                   {"meaning", Utf8(ResultMeaning(format.infoResult))}};
    if (SUCCEEDED(format.infoResult)) {
        plugin["maker"] = Utf8(format.maker);
        plugin["description"] = Utf8(format.description);
        plugin["extensions"] = Utf8(format.extensions);
    }
    if (SUCCEEDED(format.capabilitiesResult)) plugin["capabilities"] = format.capabilities;
    Json answers = Json::array();
    for (const ItemAnswer& item : items) {
        Json answer = {{"path", Utf8(item.path)}, {"result", Utf8(HexResult(item.navigatorResult))},
                       {"meaning", Utf8(ResultMeaning(item.navigatorResult))}};
        if (SUCCEEDED(item.navigatorResult)) {
            answer["dateResult"] = Utf8(HexResult(item.dateResult));
            if (SUCCEEDED(item.dateResult)) {
                answer["date"] = Utf8(DateText(item.date));
                answer["oleDate"] = Number(item.date);
            }
            answer["referencesResult"] = Utf8(HexResult(item.referencesResult));
            Json references = Json::array();
            for (const HostReference& row : item.references) {
                references.push_back({{"name", Utf8(row.name)},
                                      {"path", Utf8(row.path)},
                                      {"typeCode", row.typeCode},
                                      {"linkCode", row.linkCode},
                                      {"numbers", row.numbers}});
            }
            answer["references"] = std::move(references);
        }
        answers.push_back(std::move(answer));
    }
    return JsonText({{"plugin", std::move(plugin)}, {"items", std::move(answers)}});
}

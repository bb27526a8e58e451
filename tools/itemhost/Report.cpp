#include "tools/itemhost/Report.h"

#include "tools/common/DateText.h"
#include "tools/common/Json.h"
#include "tools/common/ResultText.h"
#include "tools/common/Table.h"

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

        Table table({L"Name", L"Path", L"Type", L"Link", L"ref1", L"ref3", L"ref2", L"ref4", L"state"});
        for (const auto& row : item.references) {
            std::vector<std::wstring> cells = {row.name, row.path, std::to_wstring(row.typeCode),
                                               std::to_wstring(row.linkCode)};
            for (long n : row.numbers) cells.push_back(std::to_wstring(n));
            table.Row(std::move(cells));
        }
        out += table.Text();
    }
    return out;
}

Json FormatJson(const FormatInfo& format, const std::vector<ItemAnswer>& items) {
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
            for (const HostReference& row : item.references) references.push_back(ToJson(row));
            answer["references"] = std::move(references);
        }
        answers.push_back(std::move(answer));
    }
    return {{"plugin", std::move(plugin)}, {"items", std::move(answers)}};
}

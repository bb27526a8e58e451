#include "tools/itemhost/Report.h"

#include <oleauto.h>

#include <algorithm>
#include <cwchar>

#include "tools/itemhost/Json.h"
#include "tools/itemhost/ResultText.h"

namespace {

std::wstring Number(long value) { return std::to_wstring(value); }

std::wstring Pad(const std::wstring& text, size_t width) {
    return text.size() >= width ? text : text + std::wstring(width - text.size(), L' ');
}

std::wstring JsonResult(HRESULT hr) { return JsonString(HexResult(hr)) + L", \"meaning\": " + JsonString(ResultMeaning(hr)); }

}  // namespace

std::wstring DateText(double date) {
    if (date <= 0.0) return L"none";
    SYSTEMTIME time{};
    if (!VariantTimeToSystemTime(date, &time)) return L"invalid (" + std::to_wstring(date) + L")";
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
             time.wSecond);
    return text;
}

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
                   Pad(Number(row.typeCode), 4) + L"  " + Pad(Number(row.linkCode), 4);
            for (long n : row.numbers) out += L"  " + Pad(Number(n), 4);
            out += L"\n";
        }
    }
    return out;
}

std::wstring FormatJson(const FormatInfo& format, const std::vector<ItemAnswer>& items) {
    std::wstring out = L"{\n  \"plugin\": {\"source\": " + JsonString(format.source);
    out += L", \"infoResult\": " + JsonResult(format.infoResult);
    if (SUCCEEDED(format.infoResult)) {
        out += L", \"maker\": " + JsonString(format.maker) + L", \"description\": " + JsonString(format.description) +
               L", \"extensions\": " + JsonString(format.extensions);
    }
    if (SUCCEEDED(format.capabilitiesResult)) out += L", \"capabilities\": " + Number(format.capabilities);
    out += L"},\n  \"items\": [";
    for (size_t i = 0; i < items.size(); ++i) {
        const ItemAnswer& item = items[i];
        out += i ? L",\n    {" : L"\n    {";
        out += L"\"path\": " + JsonString(item.path) + L", \"result\": " + JsonResult(item.navigatorResult);
        if (SUCCEEDED(item.navigatorResult)) {
            out += L", \"dateResult\": " + JsonString(HexResult(item.dateResult));
            if (SUCCEEDED(item.dateResult)) {
                out += L", \"date\": " + JsonString(DateText(item.date)) + L", \"oleDate\": " + std::to_wstring(item.date);
            }
            out += L", \"referencesResult\": " + JsonString(HexResult(item.referencesResult)) + L", \"references\": [";
            for (size_t r = 0; r < item.references.size(); ++r) {
                const ReferenceRow& row = item.references[r];
                out += r ? L", " : L"";
                out += L"{\"name\": " + JsonString(row.name) + L", \"path\": " + JsonString(row.path) +
                       L", \"typeCode\": " + Number(row.typeCode) + L", \"linkCode\": " + Number(row.linkCode) +
                       L", \"numbers\": [";
                for (int n = 0; n < 5; ++n) out += (n ? L", " : L"") + Number(row.numbers[n]);
                out += L"]}";
            }
            out += L"]";
        }
        out += L"}";
    }
    out += items.empty() ? L"]\n}\n" : L"\n  ]\n}\n";
    return out;
}

void Print(const std::wstring& text, FILE* stream) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                          nullptr);
    std::string utf8(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                            nullptr);
    }
    fwrite(utf8.data(), 1, utf8.size(), stream);
    fflush(stream);
}

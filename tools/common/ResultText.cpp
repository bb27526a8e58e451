#include "tools/common/ResultText.h"

#include <cwchar>

#include "common/HostResults.h"

namespace {

const wchar_t* KnownMeaning(HRESULT hr) {
    switch (hr) {
        case S_OK: return L"success";
        case ITEM_E_NOTFOUND: return L"the item is not in the cache";
        case ITEM_E_INVALIDNAME: return L"the path is no item path, or its item name is invalid in the cache";
        case ITEM_E_CACHEREAD: return L"the item cache could not be read";
        case ITEM_E_NOPREVIEW: return L"no preview is offered";
        case E_POINTER: return L"a required pointer was null";
        case E_NOTIMPL: return L"not implemented";
        case E_INVALIDARG: return L"an argument is invalid (an empty path?)";
        case E_OUTOFMEMORY: return L"out of memory";
        case E_FAIL: return L"the item cache file is not open";
        case CLASS_E_CLASSNOTAVAILABLE: return L"the DLL does not provide that class";
        case REGDB_E_CLASSNOTREG: return L"the plug-in is not registered (run regsvr32 on ItemPlugin.dll)";
        case CO_E_CLASSSTRING: return L"the plug-in's ProgID is not registered";
        default: return nullptr;
    }
}

}  // namespace

std::wstring Hex(unsigned long long value, int digits) {
    wchar_t text[24];
    swprintf(text, 24, L"0x%0*llX", digits, value);
    return text;
}

std::wstring HexResult(HRESULT hr) { return Hex(static_cast<unsigned long>(hr)); }

std::wstring ResultMeaning(HRESULT hr) {
    std::wstring meaning;
    if (const wchar_t* known = KnownMeaning(hr)) {
        meaning = known;
    } else {
        wchar_t* system = nullptr;
        if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&system), 0, nullptr) &&
            system) {
            meaning = system;
            LocalFree(system);
            while (!meaning.empty() && (meaning.back() == L'\n' || meaning.back() == L'\r' || meaning.back() == L'.')) {
                meaning.pop_back();
            }
        } else {
            meaning = L"unknown result";
        }
    }
    return meaning;
}

std::wstring DescribeResult(HRESULT hr) { return HexResult(hr) + L": " + ResultMeaning(hr); }

#pragma once
// What the plug-in answered, and its presentation as text or JSON.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

struct FormatInfo {
    std::wstring source;
    HRESULT infoResult = E_FAIL;
    std::wstring maker, description, extensions;
    HRESULT capabilitiesResult = E_FAIL;
    long capabilities = 0;
};

struct ReferenceRow {
    std::wstring name, path;
    long typeCode = 0, linkCode = 0;
    long numbers[5] = {};  // ref1, ref3, ref2, ref4, state
};

struct ItemAnswer {
    std::wstring path;
    HRESULT navigatorResult = E_FAIL;
    HRESULT referencesResult = E_FAIL;
    std::vector<ReferenceRow> references;
    HRESULT dateResult = E_FAIL;
    double date = 0.0;
};

std::wstring FormatText(const FormatInfo& format, const std::vector<ItemAnswer>& items);
std::wstring FormatJson(const FormatInfo& format, const std::vector<ItemAnswer>& items);
// "2024-03-01 12:00:04", or "none" for dates at or before 0.0.
std::wstring DateText(double date);

// Writes text to stream as UTF-8 and flushes it.
void Print(const std::wstring& text, FILE* stream = stdout);

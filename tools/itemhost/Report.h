#pragma once
// What the plug-in answered, and its presentation as text or JSON.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/common/HostReference.h"

struct FormatInfo {
    std::wstring source;
    HRESULT infoResult = E_FAIL;
    std::wstring maker, description, extensions;
    HRESULT capabilitiesResult = E_FAIL;
    long capabilities = 0;
};

struct ItemAnswer {
    std::wstring path;
    HRESULT navigatorResult = E_FAIL;
    HRESULT referencesResult = E_FAIL;
    std::vector<HostReference> references;
    HRESULT dateResult = E_FAIL;
    double date = 0.0;
};

std::wstring FormatText(const FormatInfo& format, const std::vector<ItemAnswer>& items);
Json FormatJson(const FormatInfo& format, const std::vector<ItemAnswer>& items);

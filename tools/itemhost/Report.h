#pragma once
// What the plug-in answered, asked as the host asks, and its presentation as
// text or JSON.
#include <windows.h>

#include <string>
#include <vector>

#include "PlxHostInterfaces.h"
#include "tools/common/HostReference.h"
#include "tools/common/Json.h"

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

// What the host asks the format object: GetInfo and GetCapabilities.
FormatInfo AskFormat(IPlxFileFormat* format);
// What the host asks about one item: CreateNavigator, then (after SetOption(3)
// when hideType3) GetReferences, then the date through GetProperty(1).
ItemAnswer AskItem(IPlxFileFormat* format, const std::wstring& path, bool hideType3);

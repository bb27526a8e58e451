#pragma once
// A GUID text as swscanf reads it with the identities' format: how they were
// read before ParseGuidText, and the measure the tests hold it to.
#include <cwchar>
#include <string>

#include "settings/GuidText.h"

inline bool ScanGuidText(const UnitString& text, GuidFields& out) {
    const std::wstring terminated(text.begin(), text.end());
    unsigned int d[11] = {};
    if (swscanf(terminated.c_str(), L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", &d[0], &d[1], &d[2], &d[3],
                &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]) < 11) {
        return false;
    }
    out.data1 = d[0];
    out.data2 = static_cast<std::uint16_t>(d[1]);
    out.data3 = static_cast<std::uint16_t>(d[2]);
    for (int i = 0; i < 8; ++i) out.data4[i] = static_cast<std::uint8_t>(d[3 + i]);
    return true;
}

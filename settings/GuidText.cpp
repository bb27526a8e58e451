#include "settings/GuidText.h"

#include <cwchar>

bool ParseGuidText(UnitView text, GuidFields& out) noexcept try {
    const UnitString terminated(text);
    unsigned int d1 = 0, d2 = 0, d3 = 0, b[8] = {};
    const int fields = swscanf(terminated.c_str(), L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", &d1, &d2,
                               &d3, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]);
    if (fields < 11) return false;
    out.data1 = d1;
    out.data2 = static_cast<std::uint16_t>(d2);
    out.data3 = static_cast<std::uint16_t>(d3);
    for (int i = 0; i < 8; ++i) out.data4[i] = static_cast<std::uint8_t>(b[i]);
    return true;
} catch (...) {
    return false;
}

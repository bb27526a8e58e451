// GUID texts: read as swscanf with the identities' format reads them (the C
// library's, on every ASCII text), a code unit outside ASCII matching nothing;
// a GUID read prints back to a text that reads the same; a failure writes nothing.
//
// Input: byte 0 bit 0 set: the rest is UTF-16LE code units; clear: each byte
// is a code unit of its own, so that texts stay short and mostly ASCII.
#include <cstdio>
#include <cstring>

#include "settings/GuidText.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/GuidScan.h"

namespace {

bool Same(const GuidFields& a, const GuidFields& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 && std::memcmp(a.data4, b.data4, 8) == 0;
}

UnitString Canonical(const GuidFields& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return UnitString(text, text + std::strlen(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    UnitString text;
    if (data[0] & 1) {
        text = UnitsOf({data + 1, size - 1});
    } else {
        text.assign(data + 1, data + size);
    }

    GuidFields parsed;
    parsed.data1 = 0x5EED;
    const bool accepted = ParseGuidText(text, parsed);
    if (!accepted) FUZZ_CHECK(parsed.data1 == 0x5EED);

    // 'g' matches no directive, as a code unit outside ASCII must not.
    UnitString ascii = text;
    for (CodeUnit& c : ascii) {
        if (c > 0x7F) c = u'g';
    }
    GuidFields fromAscii, scanned;
    FUZZ_CHECK(ParseGuidText(ascii, fromAscii) == accepted);
    FUZZ_CHECK(ScanGuidText(ascii, scanned) == accepted);
    if (!accepted) return 0;
    FUZZ_CHECK(Same(parsed, fromAscii) && Same(parsed, scanned));

    GuidFields again;
    FUZZ_CHECK(ParseGuidText(Canonical(parsed), again) && Same(again, parsed));
    return 0;
}

// The compound-file header decode: only the first 0x22 bytes count, each field
// is its little-endian word, and a sector size is a power of two or nothing.
//
// Input: the first bytes of a file.
#include <cstring>

#include "cache/CompoundHeader.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

bool Same(const CompoundHeaderFields& a, const CompoundHeaderFields& b) {
    return a.signature == b.signature && a.minorVersion == b.minorVersion && a.majorVersion == b.majorVersion &&
           a.byteOrder == b.byteOrder && a.sectorShift == b.sectorShift && a.miniSectorShift == b.miniSectorShift;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const OwnedBytes file({data, size});
    const CompoundHeaderFields header = DecodeCompoundHeader(file.View());
    if (size < 0x22) {
        FUZZ_CHECK(Same(header, CompoundHeaderFields{}));
        return 0;
    }
    FUZZ_CHECK(Same(header, DecodeCompoundHeader(file.View().first(0x22))));
    const auto word = [&](std::size_t at) { return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8); };
    FUZZ_CHECK(header.minorVersion == word(0x18) && header.majorVersion == word(0x1A) &&
               header.byteOrder == word(0x1C) && header.sectorShift == word(0x1E) &&
               header.miniSectorShift == word(0x20));
    const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    FUZZ_CHECK(header.signature == (std::memcmp(data, signature, 8) == 0));

    const std::uint32_t sector = header.SectorSize();
    FUZZ_CHECK(sector == 0 || (sector >= 128 && sector <= 65536 && sector == 1u << header.sectorShift));
    if (header.Consistent()) {
        FUZZ_CHECK(header.signature && header.byteOrder == 0xFFFE);
        FUZZ_CHECK((header.majorVersion == 3 && sector == 512) || (header.majorVersion == 4 && sector == 4096));
    }
    return 0;
}

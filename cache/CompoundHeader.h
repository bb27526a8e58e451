#pragma once
// The fixed part of a compound file's header, decoded from the file's first bytes.
#include <cstddef>
#include <cstdint>
#include <span>

struct CompoundHeaderFields {
    static constexpr std::uint32_t kBytes = 512;  // the header sector of either version

    bool signature = false;  // D0 CF 11 E0 A1 B1 1A E1
    std::uint16_t minorVersion = 0;
    std::uint16_t majorVersion = 0;   // 3 or 4
    std::uint16_t byteOrder = 0;      // 0xFFFE
    std::uint16_t sectorShift = 0;    // 9 (512 bytes, version 3) or 12 (4096, version 4)
    std::uint16_t miniSectorShift = 0;

    // 2^sectorShift; 0 when the shift cannot be a sector size.
    std::uint32_t SectorSize() const noexcept { return sectorShift >= 7 && sectorShift <= 16 ? 1u << sectorShift : 0; }
    // Version 3 with 512-byte sectors or version 4 with 4096-byte sectors.
    bool Consistent() const noexcept {
        return signature && byteOrder == 0xFFFE &&
               ((majorVersion == 3 && sectorShift == 9) || (majorVersion == 4 && sectorShift == 12));
    }
};

// The fields from the first bytes of a file, of which there may be fewer than
// kBytes; none is set when the bytes end before the last of them.
CompoundHeaderFields DecodeCompoundHeader(std::span<const std::byte> bytes) noexcept;

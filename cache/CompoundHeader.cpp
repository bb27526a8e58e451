#include "cache/CompoundHeader.h"

#include <cstring>

namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kFieldBytes = 0x22;  // up to the mini sector shift

std::uint16_t Word(std::span<const std::byte> bytes, std::size_t offset) noexcept {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(bytes[offset]) |
                                      (std::to_integer<unsigned>(bytes[offset + 1]) << 8));
}

}  // namespace

CompoundHeaderFields DecodeCompoundHeader(std::span<const std::byte> bytes) noexcept {
    CompoundHeaderFields header;
    if (bytes.size() < kFieldBytes) return header;
    header.signature = std::memcmp(bytes.data(), kSignature, sizeof(kSignature)) == 0;
    header.minorVersion = Word(bytes, 0x18);
    header.majorVersion = Word(bytes, 0x1A);
    header.byteOrder = Word(bytes, 0x1C);
    header.sectorShift = Word(bytes, 0x1E);
    header.miniSectorShift = Word(bytes, 0x20);
    return header;
}

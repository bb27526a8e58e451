#pragma once
// What the fuzz targets share: a property that fails stops the run (libFuzzer
// keeps the input as a reproducer), and texts made of the input's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

#include "common/CodeUnit.h"

[[noreturn]] inline void PropertyFailed(const char* property, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, property);
    std::abort();
}
#define FUZZ_CHECK(property) ((property) ? void() : PropertyFailed(#property, __FILE__, __LINE__))

// The input's bytes as UTF-16LE code units; an odd last byte is dropped.
inline UnitString UnitsOf(std::span<const std::uint8_t> bytes) {
    UnitString units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units += static_cast<CodeUnit>(bytes[i] | (bytes[i + 1] << 8));
    }
    return units;
}

// The input as an exact heap block, so that AddressSanitizer sees a read one
// byte past its end.
struct OwnedBytes {
    explicit OwnedBytes(std::span<const std::uint8_t> from)
        : size(from.size()), data(new std::byte[from.size()]) {
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::byte>(from[i]);
    }
    std::span<const std::byte> View() const noexcept { return {data.get(), size}; }

    std::size_t size;
    std::unique_ptr<std::byte[]> data;
};

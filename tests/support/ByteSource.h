#pragma once
// Bytes as the source of a PieceCursor: a stream that hands them out in
// whatever pieces are asked for and ends after the last, as a short read or,
// when it fails, as a failed one.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

class ByteSource {
public:
    explicit ByteSource(std::span<const std::byte> bytes, bool fails = false) noexcept : bytes_(bytes), fails_(fails) {}

    bool Read(std::byte* into, std::size_t want, std::size_t& got) noexcept {
        got = std::min(want, bytes_.size() - at_);
        if (got) std::memcpy(into, bytes_.data() + at_, got);
        at_ += got;
        return !(fails_ && got < want);
    }

private:
    std::span<const std::byte> bytes_;
    std::size_t at_ = 0;
    bool fails_;
};

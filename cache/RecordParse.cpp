#include "cache/RecordParse.h"

std::size_t StoredTextLength(std::span<const std::byte> text) noexcept {
    const std::size_t units = (text.size() + 1) / 2;
    std::size_t length = 0;
    while (length < units) {
        const auto low = static_cast<unsigned char>(text[2 * length]);
        const auto high = 2 * length + 1 < text.size() ? static_cast<unsigned char>(text[2 * length + 1]) : 0u;
        if (low == 0 && high == 0) break;
        ++length;
    }
    return length;
}

void CopyStoredText(std::span<const std::byte> text, CodeUnit* out, std::size_t length) noexcept {
    // An empty text may have no bytes behind it at all (a null data pointer).
    if (length == 0) return;
    const std::size_t bytes = 2 * length;
    if (bytes <= text.size()) {
        std::memcpy(out, text.data(), bytes);
    } else {
        std::memcpy(out, text.data(), text.size());
        out[length - 1] = static_cast<CodeUnit>(static_cast<unsigned char>(text[text.size() - 1]));
    }
}

#include "settings/GuidText.h"

namespace {

// The text as swscanf's directives see it: the fields' widths as digits, the
// rest literal. The closing brace is left out: it is never looked at.
constexpr char kLayout[] = "{8-4-4-22-222222";

bool IsSpace(CodeUnit c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexValue(CodeUnit c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Scanner {
public:
    explicit Scanner(UnitView text) noexcept : text_(text) {}

    bool Literal(char c) noexcept {
        if (Peek() != static_cast<CodeUnit>(c)) return false;
        ++at_;
        return true;
    }

    // One %0<width>X: false when no digit could be read.
    bool Field(std::size_t width, std::uint32_t& value) noexcept {
        while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
        std::size_t used = 0;
        bool negative = false;
        if (used < width && (Peek() == '+' || Peek() == '-')) {
            negative = Peek() == '-';
            ++at_, ++used;
        }
        std::uint32_t read = 0;
        bool digits = false;
        if (used < width && Peek() == '0') {
            ++at_, ++used;
            digits = true;
            if (used < width && (Peek() == 'x' || Peek() == 'X')) ++at_, ++used;
        }
        for (; used < width && HexValue(Peek()) >= 0; ++at_, ++used) {
            read = read * 16 + static_cast<std::uint32_t>(HexValue(Peek()));
            digits = true;
        }
        if (!digits) return false;
        value = negative ? 0u - read : read;
        return true;
    }

private:
    // The code unit at the read position; NUL at the end, which matches nothing.
    CodeUnit Peek() const noexcept { return at_ < text_.size() ? text_[at_] : CodeUnit(0); }

    UnitView text_;
    std::size_t at_ = 0;
};

}  // namespace

bool ParseGuidText(UnitView text, GuidFields& out) noexcept {
    Scanner scanner(text);
    std::uint32_t fields[11] = {};
    std::size_t field = 0;
    for (const char* directive = kLayout; *directive; ++directive) {
        const bool read = *directive >= '1' && *directive <= '9'
                              ? scanner.Field(static_cast<std::size_t>(*directive - '0'), fields[field++])
                              : scanner.Literal(*directive);
        if (!read) return false;
    }
    out.data1 = fields[0];
    out.data2 = static_cast<std::uint16_t>(fields[1]);
    out.data3 = static_cast<std::uint16_t>(fields[2]);
    for (int i = 0; i < 8; ++i) out.data4[i] = static_cast<std::uint8_t>(fields[3 + i]);
    return true;
}

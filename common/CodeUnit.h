#pragma once
// The UTF-16 code unit of the texts the parsers read and form. On Windows it is
// wchar_t, so their strings are the Windows code's own (CString) and pass to the
// API as they are; where wchar_t is wider, as in the native build that fuzzes
// the parsers, it is char16_t. The parsers include no Windows header.
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

using CodeUnit = std::conditional_t<sizeof(wchar_t) == 2, wchar_t, char16_t>;
using UnitString = std::basic_string<CodeUnit>;
using UnitView = std::basic_string_view<CodeUnit>;
static_assert(sizeof(CodeUnit) == 2);

// An ASCII text as code units, for a parser's constants.
template <std::size_t N>
struct UnitText {
    CodeUnit units[N] = {};
    constexpr explicit UnitText(const char (&text)[N]) noexcept {
        for (std::size_t i = 0; i < N; ++i) units[i] = static_cast<CodeUnit>(text[i]);
    }
    constexpr UnitView View() const noexcept { return {units, N - 1}; }
};

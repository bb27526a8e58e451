#pragma once
// How a stored child becomes what the host sees: which children are shown, and
// the type and link codes its stored itemType and linkType map to.
#include <cstdint>

inline constexpr std::int32_t kHiddenChildState = 3;    // never shown to the host
inline constexpr std::int32_t kOptionalChildType = 3;   // hidden after SetOption(3)

// What keeps a child from the host: its state 3 first, then, after
// SetOption(3), its type 3.
enum class HiddenBy { Nothing, State, Type };
inline HiddenBy HiddenFromHost(std::int32_t state, std::int32_t itemType, bool dropType3) noexcept {
    if (state == kHiddenChildState) return HiddenBy::State;
    return dropType3 && itemType == kOptionalChildType ? HiddenBy::Type : HiddenBy::Nothing;
}

inline bool IsShownToHost(std::int32_t state, std::int32_t itemType, bool dropType3) noexcept {
    return HiddenFromHost(state, itemType, dropType3) == HiddenBy::Nothing;
}

inline long LinkCodeOf(std::int32_t linkType) noexcept {
    switch (linkType) {
        case 4: return 4;
        case 6: return 5;
        default: return 0;
    }
}

inline long TypeCodeOf(std::int32_t itemType) noexcept {
    switch (itemType) {
        case 1: return 4;
        case 2: return 5;
        default: return 1;
    }
}

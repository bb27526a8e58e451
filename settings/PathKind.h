#pragma once
// The product's installation and data folders, and a few files in them.
#include <cstdint>

enum class PathKind : std::uint32_t {
    Location = 0,
    SharedLocation = 1,
    // 2 has no kind of its own: it answers as Location.
    AppDataDir = 3,
    LanFileDir = 4,
    // 5 has no kind of its own: it answers as Location.
    InsoBinDir = 6,
    Location64 = 7,
    LangDir = 8,
    HelpFile = 9,
    DefaultDataDir = 10,
    DefaultCardDir = 11,
    LanFileParentDir = 12,
    DefConfigDir = 13,
    VaultConfigFile = 14,
    HelpViewerExe = 15,
    Location32 = 16,
};

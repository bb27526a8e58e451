#pragma once
// What the lookup takes from an item path, such as C:\Vault\<items>\Bracket.<item>.
#include <cstddef>

#include "common/CodeUnit.h"

struct ItemPathParts {
    int drive = -1;                          // 0 for A: ...; -1 when the path has no drive letter
    std::size_t marker = UnitString::npos;   // where "<items>" starts
    UnitString viewRoot;                     // the text before "<items>"
};

// False unless the path has a drive letter and contains "<items>"
// (case-sensitive); parts holds what was found up to the failure. drive is the
// platform's answer for the path (PathGetDriveNumberW), which decides what a
// drive letter is.
bool SplitItemPath(UnitView path, int drive, ItemPathParts& parts);

// The last path component (only the backslash separates).
UnitString ItemName(UnitView path);

#pragma once
// ASCII test texts as code units, for the tests that build on every platform.
#include <string_view>

#include "common/CodeUnit.h"

inline UnitString Units(std::string_view ascii) { return UnitString(ascii.begin(), ascii.end()); }

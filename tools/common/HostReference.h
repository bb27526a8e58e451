#pragma once
#include <string>

// One reference as the host receives it.
struct HostReference {
    std::wstring name, path;
    long typeCode = 0, linkCode = 0;
    long numbers[5] = {};  // ref1, ref3, ref2, ref4, state
};

#pragma once
#include <string>

#include "plugin/ReferenceRecord.h"
#include "tools/common/Json.h"

// One reference as the host receives it.
struct HostReference {
    std::wstring name, path;
    long typeCode = 0, linkCode = 0;
    long numbers[5] = {};  // ref1, ref3, ref2, ref4, state

    HostReference() = default;
    explicit HostReference(const ReferenceRecord& record);
};

// {"name", "path", "typeCode", "linkCode", "numbers": [ref1, ref3, ref2, ref4, state]}
Json ToJson(const HostReference& reference);

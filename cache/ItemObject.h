#pragma once
// The in-memory records of an item and of each of its children.
#include <cstdint>

#include "cache/RefObj.h"
#include "common/CodeUnit.h"

struct ItemObject : RefObj {
    static constexpr int kNameChars = 260;
    static constexpr int kPathChars = 520;

    ItemObject() noexcept = default;

    std::int32_t itemType = 0;
    std::int32_t state = 0;
    std::int32_t aux1 = 0;
    std::int32_t aux2 = 0;
    std::int32_t ref1 = -1;
    std::int32_t ref2 = -1;
    std::int32_t ref3 = -1;
    std::int32_t ref4 = -1;
    std::int32_t linkType = -1;
    double timestamp = -1.0;  // OLE Automation date; -1.0 means none
    // One code unit more than a stored text can fill, so the text always ends.
    CodeUnit name[kNameChars + 1] = {};
    CodeUnit path[kPathChars + 1] = {};
    std::int32_t timestampKind = 0;
};

struct ChildWithLink : ItemObject {
    ChildWithLink() noexcept {
        itemType = -1;
        state = -1;
        aux1 = -1;
        aux2 = -1;
    }
};

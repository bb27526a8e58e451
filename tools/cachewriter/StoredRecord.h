#pragma once
// Item records and children lists byte for byte in the stored layout, spelled
// here from the layout rather than taken from the plug-in. No Windows header,
// so that the native fuzzing build writes its seed inputs with it too.
#include <cstdint>
#include <optional>
#include <vector>

#include "common/CodeUnit.h"

using Bytes = std::vector<std::uint8_t>;

struct StoredRecord {
    std::int32_t recordVersion = 1;
    UnitString name;
    UnitString path;
    std::int32_t ref1 = 11, ref2 = 12, ref3 = 13, ref4 = 14;
    std::int32_t linkType = 4;
    double timestamp = 45000.5;
    std::int32_t timestampKind = 2;
    std::int32_t itemType = 1;
    std::int32_t state = 0;
    std::int32_t aux1 = 0, aux2 = 0;
    // Stored byte counts other than the texts' own sizes (for damaged records).
    std::optional<std::int32_t> nameBytes, pathBytes;

    Bytes Serialize() const;
};

// The skipped word, the count (the number of records unless given) and the records.
Bytes ChildrenStream(const std::vector<StoredRecord>& children, std::optional<std::uint32_t> count = {});

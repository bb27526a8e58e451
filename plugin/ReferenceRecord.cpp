#include "plugin/ReferenceRecord.h"

#include "plugin/ReferenceArray.h"

void FreeReferenceRecords(ReferenceRecord* records, long count) noexcept {
    FreeRecords(TaskMemory{}, records, count > 0 ? static_cast<std::size_t>(count) : 0);
}

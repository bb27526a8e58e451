#include "plugin/ReferenceRecord.h"

void FreeReferenceRecords(ReferenceRecord* records, long count) noexcept {
    if (!records) return;
    for (long i = 0; i < count; ++i) {
        SysFreeString(records[i].path);
        SysFreeString(records[i].name);
        CoTaskMemFree(records[i].numbers);
    }
    CoTaskMemFree(records);
}

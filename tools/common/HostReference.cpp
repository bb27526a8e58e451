#include "tools/common/HostReference.h"

#include "common/CString.h"

HostReference::HostReference(const ReferenceRecord& record)
    : name(StringOrEmpty(record.name)),
      path(StringOrEmpty(record.path)),
      typeCode(record.typeCode),
      linkCode(record.linkCode) {
    if (!record.numbers) return;
    const ReferenceNumbers& n = *record.numbers;
    const long ordered[5] = {n.ref1, n.ref3, n.ref2, n.ref4, n.state};
    std::copy(ordered, ordered + 5, numbers);
}

Json ToJson(const HostReference& r) {
    return {{"name", Utf8(r.name)},
            {"path", Utf8(r.path)},
            {"typeCode", r.typeCode},
            {"linkCode", r.linkCode},
            {"numbers", r.numbers}};
}

#include "plugin/ReferenceList.h"

#include "common/RequestTrace.h"
#include "common/Result.h"

namespace {

template <class Cursor>
HRESULT Build(Cursor& cursor, ReferenceFilter filter, ReferenceRecord** records, LONG* count) try {
    RequestObserver* const observer = Observer();
    ReferenceArray<TaskMemory> array;
    const HRESULT listed = array.Read(cursor, filter, [observer](const RecordView& child, bool shown) {
        if (observer) observer->Child(child, shown);
    });
    if (observer) observer->ChildList(listed);
    RETURN_IF_FAILED(listed);
    const auto shown = static_cast<LONG>(array.Count());
    *records = array.Release();
    *count = shown;
    return S_OK;
}
CATCH_RETURN()

}  // namespace

HRESULT BuildReferenceRecords(std::span<const std::byte> childrenStream, ReferenceFilter filter,
                              ReferenceRecord** records, LONG* count) {
    RecordCursor cursor(childrenStream);
    return Build(cursor, filter, records, count);
}

HRESULT BuildReferenceRecords(StreamCursor& childrenStream, ReferenceFilter filter, ReferenceRecord** records,
                              LONG* count) {
    return Build(childrenStream, filter, records, count);
}

#include "plugin/ReferenceList.h"

#include "common/RequestTrace.h"
#include "common/Result.h"

namespace {

template <class Cursor>
HRESULT Build(Cursor& cursor, ReferenceFilter filter, ReferenceRecord** records, LONG* count) try {
    const RequestStep step = Observed();
    ReferenceArray<TaskMemory> array;
    const HRESULT listed = array.Read(cursor, filter, [step](const RecordView& child, bool shown) {
        if (step) step->Child(step.call, child, shown);
    });
    if (step) step->ChildList(step.call, listed);
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

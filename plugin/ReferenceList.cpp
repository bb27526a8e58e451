#include "plugin/ReferenceList.h"

#include <cstring>
#include <optional>
#include <utility>

#include "cache/RecordReader.h"
#include "common/RequestTrace.h"
#include "common/Result.h"
#include "plugin/ReferenceCodes.h"

namespace {

bool IsShown(const RecordView& child, ReferenceFilter filter) {
    return IsShownToHost(child.state, child.itemType, filter.dropType3);
}

BSTR AllocStoredText(std::span<const std::byte> text) noexcept {
    const std::size_t length = StoredTextLength(text);
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (result) CopyStoredText(text, result, length);
    return result;
}

// Owns a record array while it is filled; the host receives it only whole. It
// is allocated once, for as many children as the list can hold, and shrunk to
// the children shown when it is handed over.
class RecordArray {
public:
    explicit RecordArray(size_t capacity) : capacity_(capacity) {
        // A list without shown children still hands over a (zero-length) block.
        records_ = static_cast<ReferenceRecord*>(CoTaskMemAlloc(capacity * sizeof(ReferenceRecord)));
        if (!records_) ThrowHResult(E_OUTOFMEMORY);
    }
    RecordArray(const RecordArray&) = delete;
    RecordArray& operator=(const RecordArray&) = delete;
    ~RecordArray() {
        if (records_) FreeReferenceRecords(records_, static_cast<long>(filled_));
    }

    // The walk ends after the stored count, which the capacity is never less
    // than unless the stream is too short to hold them all.
    void Append(const RecordView& child) {
        if (filled_ == capacity_) ThrowHResult(ITEM_E_CACHEREAD);
        ReferenceRecord& record = records_[filled_++];
        std::memset(&record, 0, sizeof(record));
        record.numbersSize = sizeof(ReferenceNumbers);
        record.numbers = static_cast<ReferenceNumbers*>(CoTaskMemAlloc(sizeof(ReferenceNumbers)));
        if (!record.numbers) ThrowHResult(E_OUTOFMEMORY);
        *record.numbers = ReferenceNumbers{child.ref1, child.ref3, child.ref2, child.ref4, child.state};
        record.path = AllocStoredText(child.path);
        record.name = AllocStoredText(child.name);
        if (!record.path || !record.name) ThrowHResult(E_OUTOFMEMORY);
        record.linkCode = LinkCodeOf(child.linkType);
        record.one = 1;
        record.typeCode = TypeCodeOf(child.itemType);
    }

    size_t Count() const noexcept { return filled_; }
    // The array at its final size, for the host.
    ReferenceRecord* Release() {
        if (filled_ == 0 && capacity_ > 0) {
            // Reallocating to nothing would free the block: hand over a new empty one.
            CoTaskMemFree(std::exchange(records_, nullptr));
            records_ = static_cast<ReferenceRecord*>(CoTaskMemAlloc(0));
            if (!records_) ThrowHResult(E_OUTOFMEMORY);
        } else if (filled_ < capacity_) {
            // Shrinking cannot fail in practice; should it, the larger block serves as well.
            if (void* shrunk = CoTaskMemRealloc(records_, filled_ * sizeof(ReferenceRecord))) {
                records_ = static_cast<ReferenceRecord*>(shrunk);
            }
        }
        filled_ = capacity_ = 0;
        return std::exchange(records_, nullptr);
    }

private:
    ReferenceRecord* records_ = nullptr;
    size_t filled_ = 0;
    size_t capacity_ = 0;
};

// One pass over the list: each child the host is to see becomes a record at once.
template <class Cursor>
HRESULT Build(Cursor& cursor, ReferenceFilter filter, ReferenceRecord** records, LONG* count) try {
    std::optional<RecordArray> array;
    RequestObserver* const observer = Observer();
    const HRESULT listed = ParseChildList(
        cursor,
        [&](Cursor& children) {
            RecordView child;
            const HRESULT hr = ParseRecord(children, child);
            const bool shown = SUCCEEDED(hr) && IsShown(child, filter);
            if (observer && SUCCEEDED(hr)) observer->Child(child, shown);
            if (shown) array->Append(child);
            return hr;
        },
        [&](std::uint32_t stored) { array.emplace(MostChildren(stored, cursor.Bytes())); });
    if (observer) observer->ChildList(listed);
    RETURN_IF_FAILED(listed);
    const auto shown = static_cast<LONG>(array->Count());
    *records = array->Release();
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

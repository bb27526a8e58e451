#include "plugin/ReferenceList.h"

#include <cstring>
#include <utility>

#include "cache/RecordReader.h"
#include "common/Result.h"
#include "plugin/ReferenceCodes.h"

namespace {

bool IsShown(const RecordView& child, ReferenceFilter filter) {
    return IsShownToHost(child.state, child.itemType, filter.dropType3);
}

// A stored text as the host receives it: up to its first NUL code unit. An odd
// byte count leaves a last code unit whose high byte is zero.
BSTR AllocStoredText(std::span<const std::byte> text) noexcept {
    const size_t units = (text.size() + 1) / 2;
    size_t length = 0;
    while (length < units) {
        const auto low = static_cast<unsigned char>(text[2 * length]);
        const auto high = 2 * length + 1 < text.size() ? static_cast<unsigned char>(text[2 * length + 1]) : 0u;
        if (low == 0 && high == 0) break;
        ++length;
    }
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (!result) return nullptr;
    const size_t bytes = 2 * length;
    if (bytes <= text.size()) {
        std::memcpy(result, text.data(), bytes);
    } else {
        std::memcpy(result, text.data(), text.size());
        result[length - 1] = static_cast<wchar_t>(static_cast<unsigned char>(text[text.size() - 1]));
    }
    return result;
}

// Owns a record array while it is filled; the host receives it only whole.
class RecordArray {
public:
    explicit RecordArray(size_t count) : count_(count) {
        records_ = static_cast<ReferenceRecord*>(CoTaskMemAlloc(count * sizeof(ReferenceRecord)));
        if (!records_) ThrowHResult(E_OUTOFMEMORY);
        std::memset(records_, 0, count * sizeof(ReferenceRecord));
    }
    RecordArray(const RecordArray&) = delete;
    RecordArray& operator=(const RecordArray&) = delete;
    ~RecordArray() { FreeReferenceRecords(records_, static_cast<long>(count_)); }

    void Fill(size_t index, const RecordView& child) {
        ReferenceRecord& record = records_[index];
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

    ReferenceRecord* Release() noexcept {
        count_ = 0;
        return std::exchange(records_, nullptr);
    }

private:
    size_t count_;
    ReferenceRecord* records_ = nullptr;
};

// Calls shown(const RecordView&) for each child the host is to see, in stored order.
template <class Shown>
HRESULT ForEachShownChild(std::span<const std::byte> childrenStream, ReferenceFilter filter, Shown&& shown) {
    RecordCursor cursor(childrenStream);
    return ParseChildList(cursor, [&](RecordCursor& records) {
        RecordView child;
        const HRESULT hr = ParseRecord(records, child);
        if (SUCCEEDED(hr) && IsShown(child, filter)) shown(static_cast<const RecordView&>(child));
        return hr;
    });
}

}  // namespace

HRESULT BuildReferenceRecords(std::span<const std::byte> childrenStream, ReferenceFilter filter,
                              ReferenceRecord** records, LONG* count) try {
    // Parsing in memory is cheap: a first pass counts the children shown, so the
    // array is allocated once at its final size.
    size_t shown = 0;
    RETURN_IF_FAILED(ForEachShownChild(childrenStream, filter, [&](const RecordView&) { ++shown; }));
    RecordArray array(shown);
    size_t index = 0;
    ForEachShownChild(childrenStream, filter, [&](const RecordView& child) { array.Fill(index++, child); });
    *records = array.Release();
    *count = static_cast<LONG>(shown);
    return S_OK;
}
CATCH_RETURN()

#include "cache/RecordReader.h"

#include <algorithm>
#include <limits>

#include "common/HostResults.h"

HRESULT StreamBytes::Read(IStream* stream, std::size_t limit) {
    data_.reset();
    size_ = 0;
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return ITEM_E_CACHEREAD;
    const ULONG want = static_cast<ULONG>(
        std::min<ULONGLONG>({stat.cbSize.QuadPart, limit, std::numeric_limits<ULONG>::max()}));
    if (want == 0) return S_OK;

    data_ = std::make_unique_for_overwrite<std::byte[]>(want);
    ULONG got = 0;
    const HRESULT hr = stream->Read(data_.get(), want, &got);
    size_ = std::min(got, want);
    return FAILED(hr) && size_ == 0 ? ITEM_E_CACHEREAD : S_OK;
}

HRESULT ReadRecord(IStream* stream, ItemObject& item) {
    StreamBytes bytes;
    if (FAILED(bytes.Read(stream, kMaxRecordBytes))) return ITEM_E_CACHEREAD;
    RecordCursor cursor(bytes.View());
    return ParseRecord(cursor, item);
}

HRESULT ReadChildList(IStream* stream, std::size_t limit, std::vector<RefPtr<ChildWithLink>>& children) {
    StreamBytes bytes;
    if (FAILED(bytes.Read(stream, limit))) return ITEM_E_CACHEREAD;
    RecordCursor cursor(bytes.View());
    return ParseChildList(cursor, [&children](RecordCursor& records) {
        RefPtr<ChildWithLink> child(new ChildWithLink());
        const HRESULT hr = ParseRecord(records, *child);
        if (SUCCEEDED(hr)) children.push_back(child);
        return hr;
    });
}

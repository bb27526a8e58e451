#include "cache/RecordReader.h"

#include <algorithm>
#include <limits>

#include "common/HostResults.h"

namespace {

std::size_t StatedBytes(IStream* stream, std::size_t limit) noexcept {
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return 0;
    return static_cast<std::size_t>(std::min<ULONGLONG>(stat.cbSize.QuadPart, limit));
}

}  // namespace

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

bool StreamSource::Read(std::byte* into, std::size_t want, std::size_t& got) noexcept {
    // A piece is far below 4 GB.
    ULONG arrived = 0;
    const HRESULT hr = stream_->Read(into, static_cast<ULONG>(want), &arrived);
    got = arrived;
    return SUCCEEDED(hr);
}

StreamCursor::StreamCursor(IStream* stream, std::size_t limit)
    : PieceCursor(StreamSource(stream), StatedBytes(stream, limit)) {}

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

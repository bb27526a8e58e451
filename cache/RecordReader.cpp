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

StreamCursor::StreamCursor(IStream* stream, std::size_t limit) : stream_(stream) {
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return;
    bytes_ = left_ = static_cast<std::size_t>(std::min<ULONGLONG>(stat.cbSize.QuadPart, limit));
    // A piece, and room to keep the start of a record cut at its end.
    buffer_ = std::make_unique_for_overwrite<std::byte[]>(std::min(bytes_, kPieceBytes + kMaxRecordBytes));
}

void StreamCursor::Ensure(std::size_t size) {
    if (end_ - begin_ >= size || left_ == 0) return;
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    const std::size_t room = std::min(bytes_, kPieceBytes + kMaxRecordBytes) - end_;
    const ULONG want = static_cast<ULONG>(std::min(left_, room));
    ULONG got = 0;
    const HRESULT hr = stream_->Read(buffer_.get() + end_, want, &got);
    end_ += std::min(got, want);
    left_ -= want;
    if (FAILED(hr) || got < want) left_ = 0;  // what arrived is all there is
}

std::size_t StoredTextLength(std::span<const std::byte> text) noexcept {
    const std::size_t units = (text.size() + 1) / 2;
    std::size_t length = 0;
    while (length < units) {
        const auto low = static_cast<unsigned char>(text[2 * length]);
        const auto high = 2 * length + 1 < text.size() ? static_cast<unsigned char>(text[2 * length + 1]) : 0u;
        if (low == 0 && high == 0) break;
        ++length;
    }
    return length;
}

void CopyStoredText(std::span<const std::byte> text, wchar_t* out, std::size_t length) noexcept {
    const std::size_t bytes = 2 * length;
    if (bytes <= text.size()) {
        std::memcpy(out, text.data(), bytes);
    } else {
        std::memcpy(out, text.data(), text.size());
        out[length - 1] = static_cast<wchar_t>(static_cast<unsigned char>(text[text.size() - 1]));
    }
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

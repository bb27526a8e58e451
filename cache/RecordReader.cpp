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

HRESULT StreamBlocks::Read(IStream* stream, std::size_t limit) {
    blocks_.clear();
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return ITEM_E_CACHEREAD;
    ULONGLONG left = std::min<ULONGLONG>(stat.cbSize.QuadPart, limit);
    while (left > 0) {
        const ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(left, kBlockBytes));
        Block block{std::make_unique_for_overwrite<std::byte[]>(want), 0};
        ULONG got = 0;
        const HRESULT hr = stream->Read(block.data.get(), want, &got);
        block.size = std::min(got, want);
        if (block.size > 0) blocks_.push_back(std::move(block));
        if (FAILED(hr) || got < want) break;  // what arrived is all there is
        left -= want;
    }
    return S_OK;
}

void BlockCursor::Ensure(std::size_t size) {
    std::size_t have = current_.size - offset_;
    if (have >= size || next_ == blocks_.size()) return;
    std::size_t total = have;
    std::size_t last = next_;
    while (last < blocks_.size() && total < size) total += blocks_[last++].size;

    StreamBlocks::Block joined{std::make_unique_for_overwrite<std::byte[]>(total), total};
    if (have > 0) std::memcpy(joined.data.get(), current_.data.get() + offset_, have);
    for (; next_ < last; ++next_) {
        StreamBlocks::Block& block = blocks_[next_];
        std::memcpy(joined.data.get() + have, block.data.get(), block.size);
        have += block.size;
        block.data.reset();  // parsed past: its memory goes back at once
    }
    current_ = std::move(joined);
    offset_ = 0;
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

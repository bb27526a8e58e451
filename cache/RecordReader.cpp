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
    bytes_ = 0;
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return ITEM_E_CACHEREAD;
    ULONGLONG left = std::min<ULONGLONG>(stat.cbSize.QuadPart, limit);
    blocks_.reserve(static_cast<std::size_t>((left + kBlockBytes - 1) / kBlockBytes));
    while (left > 0) {
        const ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(left, kBlockBytes));
        Block block{std::make_unique_for_overwrite<std::byte[]>(want), 0};
        ULONG got = 0;
        const HRESULT hr = stream->Read(block.data.get(), want, &got);
        block.size = std::min(got, want);
        bytes_ += block.size;
        if (block.size > 0) blocks_.push_back(std::move(block));
        if (FAILED(hr) || got < want) break;  // what arrived is all there is
        left -= want;
    }
    return S_OK;
}

void BlockCursor::Enter(std::size_t block) noexcept {
    if (current_ < next_) blocks_[current_].data.reset();  // parsed past: its memory goes back at once
    current_ = block;
    next_ = block + 1;
    piece_ = {blocks_[block].data.get(), blocks_[block].size};
}

void BlockCursor::Ensure(std::size_t size) {
    if (inJoined_ && offset_ >= joinedTail_) {
        // Past the earlier block's end: the rest of joined_ is the start of the current block.
        offset_ -= joinedTail_;
        piece_ = {blocks_[current_].data.get(), blocks_[current_].size};
        inJoined_ = false;
    }
    const std::size_t have = piece_.size() - offset_;
    // joined_ always holds all a record needs: blocks but the last are longer than any record.
    if (have >= size || next_ == blocks_.size() || inJoined_) return;
    if (have == 0) {
        Enter(next_);
        offset_ = 0;
        return;
    }
    const std::span<const std::byte> tail = piece_.subspan(offset_);
    const StreamBlocks::Block& following = blocks_[next_];
    const std::size_t head = std::min(size, following.size);
    joined_.resize(tail.size() + head);
    std::memcpy(joined_.data(), tail.data(), tail.size());
    std::memcpy(joined_.data() + tail.size(), following.data.get(), head);
    joinedTail_ = tail.size();
    Enter(next_);
    piece_ = joined_;
    offset_ = 0;
    inJoined_ = true;
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

#pragma once
// Readers of the stored item record and children list from their streams. An
// item record's stream is read whole with one IStream::Read; a children list
// piece by piece as it is parsed. The parsing itself is cache/RecordParse.h.
#include <objbase.h>

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "cache/ItemObject.h"
#include "cache/RecordParse.h"
#include "cache/RefPtr.h"
#include "common/HostResults.h"

// The bytes of one record stream.
class StreamBytes {
public:
    std::span<const std::byte> View() const noexcept { return {data_.get(), size_}; }
    std::size_t Bytes() const noexcept { return size_; }

    // Reads the stream from its current position: as many bytes as its stated
    // size, never more than limit. A damaged file may state any size, so the
    // caller bounds limit by what the file can really hold; a short or failed
    // read keeps what arrived, and parsing then meets the end early.
    HRESULT Read(IStream* stream, std::size_t limit);

private:
    std::unique_ptr<std::byte[]> data_;
    std::size_t size_ = 0;
};

// A stream read on from its current position, for a PieceCursor.
class StreamSource {
public:
    explicit StreamSource(IStream* stream) noexcept : stream_(stream) {}
    bool Read(std::byte* into, std::size_t want, std::size_t& got) noexcept;

private:
    IStream* stream_;
};

// A children stream read piece by piece as it is parsed: as many bytes as its
// stated size, never more than limit (see StreamBytes::Read). A failed Stat
// reads nothing, and parsing then meets the end at once.
class StreamCursor : public PieceCursor<StreamSource> {
public:
    StreamCursor(IStream* stream, std::size_t limit);
};

// Reads a children stream of at most limit bytes, appending each child in
// stored order. On failure the children before the failing record stay.
HRESULT ReadChildList(IStream* stream, std::size_t limit, std::vector<RefPtr<ChildWithLink>>& children);

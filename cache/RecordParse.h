#pragma once
// Parsers of the stored item record and children list: pure computations over
// bytes, with no stream, handle or allocator of the platform inside, so they
// build for the native fuzzing host as for the plug-in. cache/RecordReader.h
// brings them the bytes of streams.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "cache/ItemObject.h"
#include "common/CodeUnit.h"
#include "common/ResultCode.h"

// The most bytes one item record can take: the fixed fields and both texts full.
inline constexpr std::size_t kMaxRecordBytes = 60 + 2 * ItemObject::kNameChars + 2 * ItemObject::kPathChars;

// What every read position offers on top of its Take: a fixed-size field read
// whole, copied out so that its alignment in the bytes does not matter.
template <class Cursor>
class CursorValues {
public:
    template <class T>
    bool Value(T& value) noexcept {
        std::span<const std::byte> field;
        if (!static_cast<Cursor*>(this)->Take(sizeof(T), field)) return false;
        std::memcpy(&value, field.data(), sizeof(T));
        return true;
    }
};

// A read position in a stream's bytes.
class RecordCursor : public CursorValues<RecordCursor> {
public:
    explicit RecordCursor(std::span<const std::byte> bytes) noexcept : bytes_(bytes) {}

    // The next size bytes; false, taking nothing, when fewer remain.
    bool Take(std::size_t size, std::span<const std::byte>& out) noexcept {
        if (size > bytes_.size() - offset_) return false;
        out = bytes_.subspan(offset_, size);
        offset_ += size;
        return true;
    }

    // All bytes are at hand already.
    void Ensure(std::size_t) noexcept {}
    // The stream's size.
    std::size_t Bytes() const noexcept { return bytes_.size(); }

    // Bytes taken so far, and bytes left.
    std::size_t Offset() const noexcept { return offset_; }
    std::size_t Remaining() const noexcept { return bytes_.size() - offset_; }

private:
    std::span<const std::byte> bytes_;
    std::size_t offset_ = 0;
};

// A read position in a stream read piece by piece into one buffer: the bytes
// already parsed make room for the next piece, so a long children list never
// needs its whole stream in memory beside what is built from it. Spans it
// hands out stay valid until the next Ensure.
//
// Source reads on from where it stands: bool Read(std::byte* into, std::size_t
// want, std::size_t& got) sets got to the bytes that arrived and is false when
// the stream failed. Fewer bytes than wanted, or a failure, end the stream:
// what arrived is all there is.
template <class Source>
class PieceCursor : public CursorValues<PieceCursor<Source>> {
public:
    static constexpr std::size_t kPieceBytes = 64 * 1024;

    // bytes: what the stream holds by its own account.
    PieceCursor(Source source, std::size_t bytes, std::size_t pieceBytes = kPieceBytes)
        : source_(std::move(source)),
          bytes_(bytes),
          left_(bytes),
          // A piece, and room to keep the start of a record cut at its end.
          capacity_(std::min(bytes, pieceBytes + kMaxRecordBytes)),
          buffer_(std::make_unique_for_overwrite<std::byte[]>(capacity_)) {}
    PieceCursor(const PieceCursor&) = delete;
    PieceCursor& operator=(const PieceCursor&) = delete;

    // Makes the next size bytes (at most kMaxRecordBytes, or all that are
    // left) lie in the buffer, reading the next piece when they do not.
    void Ensure(std::size_t size) {
        if (end_ - begin_ >= size || left_ == 0) return;
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        const std::size_t want = std::min(left_, capacity_ - end_);
        std::size_t got = 0;
        const bool more = source_.Read(buffer_.get() + end_, want, got);
        got = std::min(got, want);
        end_ += got;
        left_ = more && got == want ? left_ - want : 0;
    }
    bool Take(std::size_t size, std::span<const std::byte>& out) noexcept {
        if (size > end_ - begin_) return false;
        out = {buffer_.get() + begin_, size};
        begin_ += size;
        return true;
    }
    // The bytes the stream is read for.
    std::size_t Bytes() const noexcept { return bytes_; }

private:
    Source source_;
    std::size_t bytes_ = 0;
    std::size_t left_ = 0;  // not read yet
    std::size_t capacity_ = 0;
    std::unique_ptr<std::byte[]> buffer_;
    std::size_t begin_ = 0, end_ = 0;
};

// One stored record as it lies in the stream's bytes: the numbers by value, the
// texts as byte ranges. It starts with the values of a new ChildWithLink, which
// a record whose version is below 1 leaves as they are.
struct RecordView {
    std::int32_t recordVersion = 0;  // as stored; below 1 the record is its version alone
    std::optional<std::int32_t> nameBytes, pathBytes;  // as stored, once the record reached them
    std::int32_t itemType = -1, state = -1, aux1 = -1, aux2 = -1;
    std::int32_t ref1 = -1, ref2 = -1, ref3 = -1, ref4 = -1, linkType = -1;
    double timestamp = -1.0;
    std::span<const std::byte> name, path;
    std::int32_t timestampKind = 0;
};

namespace record_detail {
// The texts of an ItemObject are zero-filled before they are read into, so they always end.
inline void ClearTexts(ItemObject& item) noexcept {
    std::memset(item.name, 0, sizeof(item.name));
    std::memset(item.path, 0, sizeof(item.path));
}
inline void ClearTexts(RecordView&) noexcept {}
// An ItemObject has no field for the version; a RecordView keeps it.
inline void SetVersion(ItemObject&, std::int32_t) noexcept {}
inline void SetVersion(RecordView& record, std::int32_t version) noexcept { record.recordVersion = version; }
inline void SetByteCounts(ItemObject&, std::int32_t, std::int32_t) noexcept {}
inline void SetByteCounts(RecordView& record, std::int32_t nameBytes, std::int32_t pathBytes) noexcept {
    record.nameBytes = nameBytes;
    record.pathBytes = pathBytes;
}
template <std::size_t N>
void SetText(CodeUnit (&field)[N], std::span<const std::byte> text) noexcept {
    // An empty text may have no bytes behind it at all (a null data pointer).
    if (!text.empty()) std::memcpy(field, text.data(), text.size());
}
inline void SetText(std::span<const std::byte>& field, std::span<const std::byte> text) noexcept { field = text; }

// A stored text may fill its field but never more; a negative count is damage.
inline bool FitsField(std::int32_t bytes, int fieldChars) noexcept {
    return bytes >= 0 && bytes <= fieldChars * static_cast<std::int32_t>(sizeof(CodeUnit));
}
}  // namespace record_detail

// What ended a record that could not be read: its bytes ran out, or a text's
// byte count does not fit its field (negative, or beyond 520 or 1040 bytes).
enum class RecordDamage { None, CutShort, TextBeyondField };

// The result a record read reports for its damage: S_OK or 0x80040228.
constexpr ResultCode ResultOf(RecordDamage damage) noexcept {
    return damage == RecordDamage::None ? kSucceeded : kCacheReadFailed;
}

// Parses the record at the cursor into an ItemObject or a RecordView, field by
// field: after a failure the fields read before it keep their values.
template <class Cursor, class Record>
RecordDamage ParseRecordDamage(Cursor& cursor, Record& record) noexcept {
    using namespace record_detail;
    std::int32_t recordVersion = 0;
    if (!cursor.Value(recordVersion)) return RecordDamage::CutShort;
    SetVersion(record, recordVersion);
    if (recordVersion < 1) return RecordDamage::None;

    std::int32_t nameBytes = 0, pathBytes = 0;
    if (!cursor.Value(nameBytes) || !cursor.Value(pathBytes)) return RecordDamage::CutShort;
    SetByteCounts(record, nameBytes, pathBytes);
    if (!cursor.Value(record.ref1) || !cursor.Value(record.ref2) || !cursor.Value(record.ref3) ||
        !cursor.Value(record.ref4) || !cursor.Value(record.linkType) || !cursor.Value(record.timestamp)) {
        return RecordDamage::CutShort;
    }
    if (!FitsField(nameBytes, ItemObject::kNameChars) || !FitsField(pathBytes, ItemObject::kPathChars)) {
        return RecordDamage::TextBeyondField;
    }
    ClearTexts(record);
    std::span<const std::byte> text;
    if (!cursor.Take(static_cast<std::size_t>(nameBytes), text)) return RecordDamage::CutShort;
    SetText(record.name, text);
    if (!cursor.Take(static_cast<std::size_t>(pathBytes), text)) return RecordDamage::CutShort;
    SetText(record.path, text);
    if (!cursor.Value(record.timestampKind) || !cursor.Value(record.itemType) || !cursor.Value(record.state) ||
        !cursor.Value(record.aux1) || !cursor.Value(record.aux2)) {
        return RecordDamage::CutShort;
    }
    return RecordDamage::None;
}

// The same, as the result the plug-in reports: S_OK or 0x80040228.
template <class Cursor, class Record>
ResultCode ParseRecord(Cursor& cursor, Record& record) noexcept {
    return ResultOf(ParseRecordDamage(cursor, record));
}

// The most children a list of streamBytes can hold whatever its count says:
// every record takes at least its 4-byte version. What an array for them may
// be sized by.
inline std::size_t MostChildren(std::uint32_t storedCount, std::size_t streamBytes) noexcept {
    return streamBytes < 8 ? 0 : std::min<std::size_t>(storedCount, (streamBytes - 8) / 4);
}

// Walks a children list: the skipped word, the count (handed to onCount),
// then each record in stored order, parsed by parseChild(Cursor&) -> result.
// The walk stops at the first record that fails, with its result.
struct IgnoreCount {
    void operator()(std::uint32_t) const noexcept {}
};
template <class Cursor, class ParseChild, class OnCount = IgnoreCount>
ResultCode ParseChildList(Cursor& cursor, ParseChild&& parseChild, OnCount&& onCount = {}) {
    std::uint32_t skipped = 0, count = 0;
    cursor.Ensure(2 * sizeof(std::uint32_t));
    if (!cursor.Value(skipped) || !cursor.Value(count)) return kCacheReadFailed;
    onCount(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        cursor.Ensure(kMaxRecordBytes);
        if (const ResultCode result = parseChild(cursor); IsFailure(result)) return result;
    }
    return kSucceeded;
}

// A stored text as the host receives it: its UTF-16 code units up to the
// first NUL. An odd byte count leaves a last code unit whose high byte is zero.
std::size_t StoredTextLength(std::span<const std::byte> text) noexcept;
// The first length code units of text, as StoredTextLength counts them.
void CopyStoredText(std::span<const std::byte> text, CodeUnit* out, std::size_t length) noexcept;
inline UnitString StoredText(std::span<const std::byte> text) {
    UnitString out(StoredTextLength(text), CodeUnit(0));
    CopyStoredText(text, out.data(), out.size());
    return out;
}

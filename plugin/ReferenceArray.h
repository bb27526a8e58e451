#pragma once
// The host's record array for an item's children, built straight from the
// bytes of its children list as they are parsed. Its blocks and texts come from
// a Memory, the allocators the host frees them with (the task allocator and
// BSTRs in the plug-in), so the building runs the same without them.
//
// A Memory is copied freely and offers, all noexcept:
//   Record                             the host's record: numbersSize, numbers,
//                                      path, name, linkCode, one, typeCode
//   void* Alloc(std::size_t bytes), void* Realloc(void* block, std::size_t bytes),
//   void Free(void* block)
//   CodeUnit* AllocText(std::size_t length): length code units and a NUL (a BSTR)
//   void FreeText(CodeUnit* text)
// The allocations give null when memory runs out; Free and FreeText take null.
#include <cstddef>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "cache/RecordParse.h"
#include "plugin/ReferenceCodes.h"

struct ReferenceFilter {
    bool dropType3 = false;  // SetOption(3): children of type 3 are left out too
};

// Frees an array of count records as the host does: each record's texts and
// numbers block, then the array.
template <class Memory>
void FreeRecords(Memory memory, typename Memory::Record* records, std::size_t count) noexcept {
    if (!records) return;
    for (std::size_t i = 0; i < count; ++i) {
        memory.FreeText(records[i].path);
        memory.FreeText(records[i].name);
        memory.Free(records[i].numbers);
    }
    memory.Free(records);
}

// Owns a record array while it is filled; the host receives it only whole. It
// is allocated once, for as many children as the list can hold, and shrunk to
// the children shown when it is handed over. When memory runs out it throws
// std::bad_alloc, and what it allocated goes with it.
template <class Memory>
class ReferenceArray {
public:
    using Record = typename Memory::Record;

    explicit ReferenceArray(Memory memory = {}) noexcept : memory_(memory) {}
    ReferenceArray(const ReferenceArray&) = delete;
    ReferenceArray& operator=(const ReferenceArray&) = delete;
    ~ReferenceArray() { FreeRecords(memory_, records_, filled_); }

    // One pass over a children list: each child the host is to see becomes a
    // record at once, and onChild(const RecordView&, bool shown) hears of every
    // child read, onCount(std::uint32_t) of the stored count. S_OK, or
    // 0x80040228 when the list is damaged.
    template <class Cursor, class OnChild, class OnCount = IgnoreCount>
    ResultCode Read(Cursor& cursor, ReferenceFilter filter, OnChild&& onChild, OnCount&& onCount = {}) {
        return ParseChildList(
            cursor,
            [&](Cursor& children) {
                RecordView child;
                const ResultCode parsed = ParseRecord(children, child);
                if (IsFailure(parsed)) return parsed;
                const bool shown = IsShownToHost(child.state, child.itemType, filter.dropType3);
                onChild(child, shown);
                return shown ? Append(child) : kSucceeded;
            },
            [&](std::uint32_t stored) {
                onCount(stored);
                Allocate(MostChildren(stored, cursor.Bytes()));
            });
    }

    std::size_t Count() const noexcept { return filled_; }

    // The array at its final size, for the host.
    Record* Release() {
        if (filled_ == 0 && capacity_ > 0) {
            // Reallocating to nothing would free the block: hand over a new empty one.
            memory_.Free(std::exchange(records_, nullptr));
            records_ = static_cast<Record*>(memory_.Alloc(0));
            if (!records_) throw std::bad_alloc();
        } else if (filled_ < capacity_) {
            // Shrinking cannot fail in practice; should it, the larger block serves as well.
            if (void* shrunk = memory_.Realloc(records_, filled_ * sizeof(Record))) {
                records_ = static_cast<Record*>(shrunk);
            }
        }
        filled_ = capacity_ = 0;
        return std::exchange(records_, nullptr);
    }

private:
    void Allocate(std::size_t capacity) {
        // A list without shown children still hands over a (zero-length) block.
        records_ = static_cast<Record*>(memory_.Alloc(capacity * sizeof(Record)));
        if (!records_) throw std::bad_alloc();
        capacity_ = capacity;
    }

    ResultCode Append(const RecordView& child) {
        // The walk ends after the stored count, which the capacity is never
        // less than unless the stream is too short to hold them all.
        if (filled_ == capacity_) return kCacheReadFailed;
        Record& record = records_[filled_++];
        std::memset(&record, 0, sizeof(record));
        using Numbers = std::remove_pointer_t<decltype(record.numbers)>;
        record.numbersSize = sizeof(Numbers);
        record.numbers = static_cast<Numbers*>(memory_.Alloc(sizeof(Numbers)));
        if (!record.numbers) throw std::bad_alloc();
        *record.numbers = Numbers{child.ref1, child.ref3, child.ref2, child.ref4, child.state};
        record.path = AllocText(child.path);
        record.name = AllocText(child.name);
        if (!record.path || !record.name) throw std::bad_alloc();
        record.linkCode = LinkCodeOf(child.linkType);
        record.one = 1;
        record.typeCode = TypeCodeOf(child.itemType);
        return kSucceeded;
    }

    CodeUnit* AllocText(std::span<const std::byte> text) noexcept {
        const std::size_t length = StoredTextLength(text);
        CodeUnit* result = memory_.AllocText(length);
        if (result) CopyStoredText(text, result, length);
        return result;
    }

    Memory memory_;
    Record* records_ = nullptr;
    std::size_t filled_ = 0;
    std::size_t capacity_ = 0;
};

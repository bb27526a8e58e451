#pragma once
// A stand-in for the host's allocators, the task allocator and BSTRs, for
// building the host's record array where they are not at hand: it keeps every
// block it gives (an exact heap block, so that AddressSanitizer sees a read
// past one), fails the allocation it is told to, and says what is still held.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>

#include "common/CodeUnit.h"
#include "tests/fuzz/FuzzCheck.h"

// The records as the host receives them: the layout of its interface (64
// bytes on x64), texts as CodeUnit pointers where the host has BSTRs.
struct HostNumbers {
    std::int32_t ref1, ref3, ref2, ref4, state;
};
struct HostRecord {
    std::int32_t numbersSize;
    std::int32_t reserved4;
    HostNumbers* numbers;
    CodeUnit* path;
    CodeUnit* name;
    std::int32_t linkCode;
    std::int32_t one;
    std::int64_t reserved40;
    std::int32_t typeCode;
    std::int32_t reserved52;
    std::int64_t reserved56;
};
static_assert(sizeof(HostNumbers) == 20 && sizeof(HostRecord) == 64);
static_assert(offsetof(HostRecord, numbers) == 8 && offsetof(HostRecord, path) == 16 &&
              offsetof(HostRecord, name) == 24 && offsetof(HostRecord, linkCode) == 32 &&
              offsetof(HostRecord, one) == 36 && offsetof(HostRecord, typeCode) == 48);

class HostHeap {
public:
    // Allocation number n (1 = the first) fails; 0 fails none.
    explicit HostHeap(std::size_t failAt = 0) : failAt_(failAt) {}
    HostHeap(const HostHeap&) = delete;
    HostHeap& operator=(const HostHeap&) = delete;
    ~HostHeap() {
        for (const auto& [block, bytes] : blocks_) std::free(const_cast<void*>(block));
    }

    bool Failed() const noexcept { return failed_; }
    std::size_t Held() const noexcept { return blocks_.size(); }
    // The bytes of a block this heap gave and still holds; 0 when it holds none there.
    std::size_t BlockBytes(const void* block) const {
        const auto found = blocks_.find(block);
        return found == blocks_.end() ? 0 : found->second;
    }
    bool Holds(const void* block) const { return blocks_.count(block) != 0; }

    void* Alloc(std::size_t bytes) {
        if (Refuse()) return nullptr;
        // malloc(0) may give null: every block has at least a byte, and is
        // remembered with the size asked for.
        void* block = std::malloc(bytes ? bytes : 1);
        FUZZ_CHECK(block != nullptr);
        blocks_[block] = bytes;
        return block;
    }
    void* Realloc(void* block, std::size_t bytes) {
        FUZZ_CHECK(Holds(block));
        if (Refuse()) return nullptr;
        void* moved = std::realloc(block, bytes ? bytes : 1);
        FUZZ_CHECK(moved != nullptr);
        blocks_.erase(block);
        blocks_[moved] = bytes;
        return moved;
    }
    void Free(void* block) {
        if (!block) return;
        FUZZ_CHECK(Holds(block));  // neither freed twice nor foreign
        blocks_.erase(block);
        std::free(block);
    }

private:
    bool Refuse() noexcept {
        if (++allocations_ != failAt_) return false;
        failed_ = true;
        return true;
    }

    std::map<const void*, std::size_t> blocks_;
    std::size_t allocations_ = 0;
    std::size_t failAt_ = 0;
    bool failed_ = false;
};

// The Memory of a ReferenceArray: texts are NUL-terminated like BSTRs.
struct HostMemory {
    using Record = HostRecord;
    HostHeap* heap;

    void* Alloc(std::size_t bytes) const noexcept { return heap->Alloc(bytes); }
    void* Realloc(void* block, std::size_t bytes) const noexcept { return heap->Realloc(block, bytes); }
    void Free(void* block) const noexcept { heap->Free(block); }
    CodeUnit* AllocText(std::size_t length) const noexcept {
        auto* text = static_cast<CodeUnit*>(heap->Alloc((length + 1) * sizeof(CodeUnit)));
        if (text) text[length] = 0;
        return text;
    }
    void FreeText(CodeUnit* text) const noexcept { heap->Free(text); }
};

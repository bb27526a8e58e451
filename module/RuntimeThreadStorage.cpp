// Emulated thread-locals for the runtime linked into the DLL, in place of
// libgcc's. libgcc's takes a TLS index, a semaphore and a block per thread on
// first use (the first exception a load throws) and gives none of them back
// when the DLL unloads: a host that unloads and loads the plug-in would run
// out of TLS indexes. This one is the same interface, keeps every thread's
// blocks in one list, and frees a thread's blocks when it ends and everything,
// the index too, when the DLL unloads.
#include "module/RuntimeThreadStorage.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

extern "C" {
// The layout gcc emits for each emulated thread-local variable.
struct __emutls_object {
    std::size_t size;
    std::size_t align;
    union {
        std::uintptr_t offset;
        void* ptr;
    } loc;
    void* templ;
};
void* __emutls_get_address(__emutls_object* object);
void __emutls_register_common(__emutls_object* object, std::size_t size, std::size_t align, void* templ);
}

namespace {

// One thread's variables: slot i holds the variable whose offset is i + 1.
struct ThreadBlocks {
    ThreadBlocks* next;
    ThreadBlocks* previous;
    std::size_t size;
    void** slots;
};

SRWLOCK g_lock = SRWLOCK_INIT;
ThreadBlocks* g_threads = nullptr;
std::uintptr_t g_variables = 0;
std::atomic<DWORD> g_index{TLS_OUT_OF_INDEXES};

class Exclusive {
public:
    Exclusive() noexcept { AcquireSRWLockExclusive(&g_lock); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;
    ~Exclusive() { ReleaseSRWLockExclusive(&g_lock); }
};

// As libgcc does: without memory for a thread-local the program cannot go on.
[[noreturn]] void OutOfMemory() noexcept { std::abort(); }

DWORD Index() noexcept {
    DWORD index = g_index.load(std::memory_order_acquire);
    if (index != TLS_OUT_OF_INDEXES) return index;
    const DWORD taken = TlsAlloc();
    if (taken == TLS_OUT_OF_INDEXES) OutOfMemory();
    if (g_index.compare_exchange_strong(index, taken, std::memory_order_acq_rel)) return taken;
    TlsFree(taken);
    return index;
}

void FreeBlocks(ThreadBlocks* blocks) noexcept {
    for (std::size_t i = 0; i < blocks->size; ++i) _aligned_free(blocks->slots[i]);
    std::free(blocks->slots);
    std::free(blocks);
}

void Unlink(ThreadBlocks* blocks) noexcept {
    if (blocks->previous) blocks->previous->next = blocks->next;
    else g_threads = blocks->next;
    if (blocks->next) blocks->next->previous = blocks->previous;
}

ThreadBlocks* ThisThread(DWORD index, std::uintptr_t offset) noexcept {
    auto* blocks = static_cast<ThreadBlocks*>(TlsGetValue(index));
    if (!blocks) {
        blocks = static_cast<ThreadBlocks*>(std::calloc(1, sizeof(ThreadBlocks)));
        if (!blocks) OutOfMemory();
        TlsSetValue(index, blocks);
        Exclusive hold;
        blocks->next = g_threads;
        if (g_threads) g_threads->previous = blocks;
        g_threads = blocks;
    }
    if (offset > blocks->size) {
        const std::size_t size = offset + 32;
        auto* slots = static_cast<void**>(std::realloc(blocks->slots, size * sizeof(void*)));
        if (!slots) OutOfMemory();
        std::memset(slots + blocks->size, 0, (size - blocks->size) * sizeof(void*));
        blocks->slots = slots;
        blocks->size = size;
    }
    return blocks;
}

}  // namespace

extern "C" void* __emutls_get_address(__emutls_object* object) {
    // The last error belongs to the caller, who may be about to read it.
    const DWORD error = GetLastError();
    auto offset = __atomic_load_n(&object->loc.offset, __ATOMIC_ACQUIRE);
    if (offset == 0) {
        Exclusive hold;
        offset = object->loc.offset;
        if (offset == 0) {
            offset = ++g_variables;
            __atomic_store_n(&object->loc.offset, offset, __ATOMIC_RELEASE);
        }
    }
    ThreadBlocks* blocks = ThisThread(Index(), offset);
    void*& slot = blocks->slots[offset - 1];
    if (!slot) {
        const std::size_t align = object->align < sizeof(void*) ? sizeof(void*) : object->align;
        slot = _aligned_malloc(object->size ? object->size : 1, align);
        if (!slot) OutOfMemory();
        if (object->templ) std::memcpy(slot, object->templ, object->size);
        else std::memset(slot, 0, object->size);
    }
    SetLastError(error);
    return slot;
}

extern "C" void __emutls_register_common(__emutls_object* object, std::size_t size, std::size_t align, void* templ) {
    if (object->size < size) {
        object->size = size;
        object->templ = nullptr;
    }
    if (object->align < align) object->align = align;
    if (templ && size == object->size) object->templ = templ;
}

void ReleaseRuntimeThreadStorage() noexcept {
    const DWORD index = g_index.load(std::memory_order_acquire);
    if (index == TLS_OUT_OF_INDEXES) return;
    auto* blocks = static_cast<ThreadBlocks*>(TlsGetValue(index));
    if (!blocks) return;
    TlsSetValue(index, nullptr);
    {
        Exclusive hold;
        Unlink(blocks);
    }
    FreeBlocks(blocks);
}

void ReleaseAllRuntimeThreadStorage() noexcept {
    ThreadBlocks* blocks;
    {
        Exclusive hold;
        blocks = g_threads;
        g_threads = nullptr;
    }
    while (blocks) {
        ThreadBlocks* next = blocks->next;
        FreeBlocks(blocks);
        blocks = next;
    }
    const DWORD index = g_index.exchange(TLS_OUT_OF_INDEXES);
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
}

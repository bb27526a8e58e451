#pragma once
// CItemPluginModule: the DLL's module object. It keeps the lock count that
// DllCanUnloadNow answers from, the shared critical section (termination list
// and one-time loading of type information) and the termination callbacks.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/CriticalSection.h"

class CItemPluginModule {
public:
    using TermFunc = void (*)(void* argument);

    CItemPluginModule() = default;
    CItemPluginModule(const CItemPluginModule&) = delete;
    CItemPluginModule& operator=(const CItemPluginModule&) = delete;
    // No destructor: when to shut down is the DLL entry point's decision, and at
    // process exit it releases nothing.

    // Start-up: false when the shared critical section cannot be initialised.
    bool Init() noexcept;
    // Shut-down: runs the termination callbacks, newest first, and frees them.
    void Term() noexcept;

    long AddLock() noexcept { return ++lockCount_; }
    long ReleaseLock() noexcept { return --lockCount_; }
    long LockCount() const noexcept { return lockCount_.load(); }

    // Adds a callback that runs at shut-down; E_OUTOFMEMORY when no node can be had.
    HRESULT AddTermFunc(TermFunc func, void* argument) noexcept;

    CriticalSection& SharedLock() noexcept { return sharedLock_; }

private:
    struct TermNode {
        TermFunc func;
        void* argument;
        TermNode* next;
    };

    std::uint32_t initialized_ = 0;
    std::atomic<long> lockCount_{0};
    TermNode* termList_ = nullptr;
    CriticalSection sharedLock_;
};

// The one module object of the loaded DLL.
CItemPluginModule& Module() noexcept;

// Set during start-up when a process-wide critical section could not be initialised.
extern bool g_moduleInitFailed;

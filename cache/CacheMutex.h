#pragma once
// CacheMutex: holds the cache lock, the one named mutex that serialises every
// use of every item cache file across threads and processes.
#include <windows.h>

#include "common/UniqueResource.h"

inline constexpr wchar_t kItemCacheMutexName[] = L"804BF230-0F69-4525-ADF3-E15F2077A46E";

class CacheMutex {
public:
    // Waits for the mutex up to timeoutMs. The process opens it (or creates it
    // open to every account) on its first use and keeps the handle until the
    // module unloads: a named mutex holds nothing of the user's, and opening it
    // for each request would cost as much as the wait. An abandoned mutex
    // counts as acquired: its owner died.
    explicit CacheMutex(DWORD timeoutMs = INFINITE) noexcept;
    CacheMutex(const CacheMutex&) = delete;
    CacheMutex& operator=(const CacheMutex&) = delete;

    // False when no handle could be had (the caller goes on unguarded) or the
    // wait timed out (another holder kept it).
    bool Held() const noexcept { return static_cast<bool>(held_); }
    bool TimedOut() const noexcept { return timedOut_; }
    // How long the wait took, in milliseconds.
    DWORD WaitMs() const noexcept { return waitMs_; }

private:
    UniqueMutexOwnership held_;
    bool timedOut_ = false;
    DWORD waitMs_ = 0;
};

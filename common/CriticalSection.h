#pragma once
// A critical section whose initialisation can be reported, and its scoped lock.
#include <windows.h>

class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { Term(); }

    // S_OK, or the HRESULT of the system error that prevented initialisation.
    HRESULT Init() noexcept {
        if (initialized_) return S_OK;
        if (!InitializeCriticalSectionAndSpinCount(&cs_, 0)) {
            const DWORD err = GetLastError();
            return err ? HRESULT_FROM_WIN32(err) : E_OUTOFMEMORY;
        }
        initialized_ = true;
        return S_OK;
    }
    void Term() noexcept {
        if (initialized_) {
            DeleteCriticalSection(&cs_);
            initialized_ = false;
        }
    }
    void Enter() noexcept { EnterCriticalSection(&cs_); }
    void Leave() noexcept { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_{};
    bool initialized_ = false;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) noexcept : cs_(cs) { cs_.Enter(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
    ~CriticalSectionLock() { cs_.Leave(); }

private:
    CriticalSection& cs_;
};

// Scoped holds of a slim reader/writer lock.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};

class SharedLock {
public:
    explicit SharedLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockShared(&lock_); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;
    ~SharedLock() { ReleaseSRWLockShared(&lock_); }

private:
    SRWLOCK& lock_;
};

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
    bool IsInitialized() const noexcept { return initialized_; }
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

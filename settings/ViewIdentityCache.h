#pragma once
// The identities of view roots' desktop.ini files, kept by path between
// requests and validated on every use by one attribute query of the file: size,
// last-write time and creation time. A file whose attributes differ, that
// cannot be queried, or that was written so recently that its write time may
// not tell the next write apart, is read again. Holds no handle; safe for
// concurrent callers (the file is queried and read outside the lock, the
// answer published under it).
#include <windows.h>

#include <atomic>
#include <unordered_map>

#include "common/CString.h"
#include "settings/ViewIdentity.h"

class ViewIdentityCache {
public:
    // What ReadViewIdentities(folder) answers now; the request's observer is
    // told what was read or kept.
    ViewIdentities Get(const CString& folder);

    // desktop.ini files read so far: a cache that serves reads none.
    unsigned long long Reads() const noexcept { return reads_.load(); }

private:
    struct Stamp {
        ULONGLONG size = 0;
        FILETIME lastWrite{};
        FILETIME creation{};
        bool operator==(const Stamp&) const noexcept;
    };
    struct Entry {
        Stamp stamp;
        ViewIdentities ids;
        IdentityText view, vault;  // as read, for whoever diagnoses a request
    };

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::unordered_map<CString, Entry> entries_;
    std::atomic<unsigned long long> reads_{0};
};

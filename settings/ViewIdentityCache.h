#pragma once
// The identities of view roots' desktop.ini files, kept by path between
// requests and validated on every use by one query of the file's stamp (size,
// last-write, creation and change times; a symbolic link is followed). Only a
// completed read is kept: a file that could not be opened for the read (held
// by another program without sharing, say) is read again on its next use, and
// so is one whose stamp could not be taken or that was written so recently
// that its write time may not tell the next write apart. Holds no handle
// between requests; safe for concurrent callers (the file is queried and read
// outside the lock, the answer published under it).
#include <windows.h>

#include <atomic>
#include <unordered_map>

#include "common/CString.h"
#include "settings/FileStamp.h"
#include "settings/ViewIdentity.h"

class ViewIdentityCache {
public:
    // What ReadViewIdentities(folder) answers now; the request's observer is
    // told what was read or kept. shared false (a thread acting for another
    // user) reads afresh and keeps nothing.
    ViewIdentities Get(const CString& folder, bool shared = true);

    // desktop.ini files read so far: a cache that serves reads none.
    unsigned long long Reads() const noexcept { return reads_.load(); }

private:
    struct Entry {
        FileStamp stamp;
        ViewIdentities ids;
        IdentityText view, vault;  // as read, for whoever diagnoses a request
    };

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::unordered_map<CString, Entry> entries_;
    std::atomic<unsigned long long> reads_{0};
};

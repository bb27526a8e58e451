#include "settings/ViewIdentityCache.h"

#include "common/CriticalSection.h"
#include "common/RequestTrace.h"
#include "common/UniqueResource.h"

namespace {

// Registered views and the roots of item paths asked about; past this many the
// cache starts again rather than grow without bound.
constexpr size_t kMaxEntries = 4096;

// FAT keeps write times to two seconds: a file written within that span before
// it was read could be written again without its stamp changing.
constexpr LONGLONG kCoarsestWriteTime = 2 * 10'000'000LL;  // in 100 ns units

LONGLONG Now() noexcept {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

// The profile functions answer a file they could not open (held by another
// program without sharing, say) as if it held no such key. Whether it could be
// opened is asked just before the read and, when a key was missing, just after
// it, each time with an open closed at once (a handle kept across the read
// would make another program's delete and rewrite of the file fail). True when
// the file could be opened, or is surely not there.
bool Openable(const CString& iniPath) noexcept {
    UniqueFileHandle file(CreateFileW(iniPath.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

ViewIdentities ViewIdentityCache::Get(const CString& folder, bool shared) {
    const CString iniPath = ViewIniPath(folder);
    FileStamp stamp;
    const bool stamped = QueryFileStamp(iniPath, stamp) == StampResult::Stamped;
    if (stamped && shared) {
        SharedLock hold(lock_);
        const auto found = entries_.find(iniPath);
        if (found != entries_.end() && found->second.stamp == stamp) {
            const Entry& kept = found->second;
            if (const RequestStep step = Observed()) step->DesktopIni(step.call, folder, iniPath, true, kept.view, kept.vault, true);
            return kept.ids;
        }
    }

    const LONGLONG readAt = Now();
    ++reads_;
    Entry read;
    read.stamp = stamp;
    bool complete = Openable(iniPath);
    read.ids = ReadViewIdentities(folder, &read.view, &read.vault);
    // A key found was read from the file (each key is a read of its own); a
    // missing one may be a failed open.
    if (complete && (read.view.text.empty() || read.vault.text.empty())) complete = Openable(iniPath);
    if (const RequestStep step = Observed()) step->DesktopIni(step.call, folder, iniPath, stamped, read.view, read.vault, false);
    if (!shared) return read.ids;
    const ViewIdentities ids = read.ids;
    // The stamp was taken before the read: a write in between changes it, so
    // the next use reads again rather than trust what may be the older text.
    const bool settled = stamped && complete && stamp.lastWrite + kCoarsestWriteTime < readAt;
    ExclusiveLock hold(lock_);
    if (!settled) {
        entries_.erase(iniPath);
    } else {
        if (entries_.size() >= kMaxEntries) entries_.clear();
        entries_.insert_or_assign(iniPath, std::move(read));
    }
    return ids;
}

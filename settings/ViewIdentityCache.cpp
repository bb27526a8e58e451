#include "settings/ViewIdentityCache.h"

#include "common/CriticalSection.h"
#include "common/RequestTrace.h"

namespace {

// Registered views and the roots of item paths asked about; past this many the
// cache starts again rather than grow without bound.
constexpr size_t kMaxEntries = 4096;

// FAT keeps write times to two seconds: a file written within that span before
// it was read could be written again without its stamp changing.
constexpr ULONGLONG kCoarsestWriteTime = 2 * 10'000'000ULL;  // in 100 ns units

ULONGLONG Ticks(const FILETIME& time) noexcept {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

bool ViewIdentityCache::Stamp::operator==(const Stamp& other) const noexcept {
    return size == other.size && Ticks(lastWrite) == Ticks(other.lastWrite) &&
           Ticks(creation) == Ticks(other.creation);
}

ViewIdentities ViewIdentityCache::Get(const CString& folder) {
    const CString iniPath = ViewIniPath(folder);
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    const bool queried = GetFileAttributesExW(iniPath.c_str(), GetFileExInfoStandard, &attributes);
    Stamp stamp;
    if (queried) {
        stamp.size = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
        stamp.lastWrite = attributes.ftLastWriteTime;
        stamp.creation = attributes.ftCreationTime;
        SharedLock hold(lock_);
        const auto found = entries_.find(iniPath);
        if (found != entries_.end() && found->second.stamp == stamp) {
            const Entry& kept = found->second;
            if (RequestObserver* observer = Observer()) observer->DesktopIni(folder, iniPath, true, kept.view, kept.vault, true);
            return kept.ids;
        }
    }

    FILETIME readAt{};
    GetSystemTimeAsFileTime(&readAt);
    ++reads_;
    Entry read;
    read.stamp = stamp;
    read.ids = ReadViewIdentities(folder, &read.view, &read.vault);
    if (RequestObserver* observer = Observer()) observer->DesktopIni(folder, iniPath, queried, read.view, read.vault, false);
    const ViewIdentities ids = read.ids;
    // The stamp was taken before the read: a write in between changes it, so
    // the next use reads again rather than trust what may be the older text.
    const bool settled = queried && Ticks(stamp.lastWrite) + kCoarsestWriteTime < Ticks(readAt);
    ExclusiveLock hold(lock_);
    if (!settled) {
        entries_.erase(iniPath);
    } else {
        if (entries_.size() >= kMaxEntries) entries_.clear();
        entries_.insert_or_assign(iniPath, std::move(read));
    }
    return ids;
}

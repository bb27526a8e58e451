#include "settings/ChangeWatch.h"

#include <algorithm>

namespace {

constexpr DWORD kRegistryFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
constexpr DWORD kFolderFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_CREATION;

UniqueChangeHandle WatchFolder(const CString& folder, DWORD filter) noexcept {
    const HANDLE h = FindFirstChangeNotificationW(folder.c_str(), FALSE, filter);
    return UniqueChangeHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The folder that holds folder (given without a trailing backslash), or empty
// for a drive's root.
CString ParentOf(const CString& folder) {
    const size_t slash = folder.find_last_of(L'\\');
    if (slash == CString::npos) return {};
    CString parent = folder.substr(0, slash);
    if (parent.size() == 2 && parent[1] == L':') parent += L'\\';
    return parent;
}

}  // namespace

bool RegistryWatch::Arm(HKEY root, const CString& path) noexcept try {
    key_.Reset();
    if (!event_) event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event_) return false;
    ResetEvent(event_.Get());

    CString watched = path;
    while (RegOpenKeyExW(root, watched.c_str(), 0, KEY_NOTIFY, key_.Put()) != ERROR_SUCCESS) {
        const size_t slash = watched.find_last_of(L'\\');
        if (slash == CString::npos) {
            if (RegOpenKeyExW(root, nullptr, 0, KEY_NOTIFY, key_.Put()) != ERROR_SUCCESS) return false;
            break;
        }
        watched.resize(slash);
    }
    if (RegNotifyChangeKeyValue(key_.Get(), TRUE, kRegistryFilter, event_.Get(), TRUE) != ERROR_SUCCESS) {
        key_.Reset();
        return false;
    }
    return true;
} catch (...) {
    key_.Reset();
    return false;
}

bool RegistryWatch::Changed() const noexcept {
    return !key_ || WaitForSingleObject(event_.Get(), 0) != WAIT_TIMEOUT;
}

void FolderWatch::Arm(const CString& folder) noexcept try {
    folder_ = folder;
    while (folder_.size() > 3 && folder_.back() == L'\\') folder_.pop_back();
    self_.Reset();
    parent_.Reset();
    count_ = 0;
    complete_ = false;

    // The parent first: a folder created after it is armed is seen through it.
    const CString parent = ParentOf(folder_);
    if (!parent.empty()) {
        parent_ = WatchFolder(parent, FILE_NOTIFY_CHANGE_DIR_NAME);
        if (!parent_) return;
    }
    self_ = WatchFolder(folder_, kFolderFilter);
    const bool exists = GetFileAttributesW(folder_.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (self_) handles_[count_++] = self_.Get();
    if (parent_) handles_[count_++] = parent_.Get();
    complete_ = self_ || !exists;
} catch (...) {
    self_.Reset();
    parent_.Reset();
    count_ = 0;
    complete_ = false;
}

void FolderWatch::Rearm() noexcept {
    const CString folder = std::move(folder_);
    Arm(folder);
}

size_t FirstSignalled(std::span<const HANDLE> handles, size_t start) noexcept {
    while (start < handles.size()) {
        const DWORD count = static_cast<DWORD>(std::min<size_t>(handles.size() - start, MAXIMUM_WAIT_OBJECTS));
        const DWORD result = WaitForMultipleObjects(count, handles.data() + start, FALSE, 0);
        if (result < WAIT_OBJECT_0 + count) return start + (result - WAIT_OBJECT_0);
        if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) return start + (result - WAIT_ABANDONED_0);
        if (result != WAIT_TIMEOUT) return start;  // a failed wait proves nothing: treat it as a change
        start += count;
    }
    return handles.size();
}

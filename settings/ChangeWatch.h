#pragma once
// Change notifications polled with a zero wait: they tell cheaply whether a
// registry subtree or a folder may have changed since they were armed. Each is
// armed before what it guards is read, so no change can slip in between.
#include <windows.h>

#include <span>

#include "common/CString.h"
#include "common/UniqueResource.h"

namespace change_detail {
inline void CloseChange(HANDLE h) noexcept { FindCloseChangeNotification(h); }
}  // namespace change_detail

// A directory change notification handle; null when none could be had.
using UniqueChangeHandle = UniqueResource<HANDLE, change_detail::CloseChange>;

// Changes anywhere below a registry key. The key need not exist: its nearest
// existing ancestor is watched instead, so that its creation is seen too.
class RegistryWatch {
public:
    // Arms the watch; false when nothing could be watched (then Changed() is always true).
    bool Arm(HKEY root, const CString& path) noexcept;
    // True when a change may have happened since Arm.
    bool Changed() const noexcept;
    // Signalled on a change; null before the first Arm.
    HANDLE Event() const noexcept { return event_.Get(); }

private:
    UniqueHKey key_;
    UniqueHandle event_;
};

// Changes of a folder's own entries (files written, created, renamed, removed),
// and of the folder itself through its parent (removed, renamed, created).
class FolderWatch {
public:
    // Arms what can be armed; a folder that does not exist yet is watched
    // through its parent alone.
    void Arm(const CString& folder) noexcept;
    // False when part of it could not be armed: such a folder must be read every time.
    bool Complete() const noexcept { return complete_; }
    // Re-arms the handles that fired; call only when one of Handles() is signalled.
    void Rearm() noexcept;
    // The handles to wait on, folder first.
    std::span<const HANDLE> Handles() const noexcept { return {handles_, count_}; }

private:
    CString folder_;
    UniqueChangeHandle self_;
    UniqueChangeHandle parent_;
    HANDLE handles_[2] = {};
    size_t count_ = 0;
    bool complete_ = false;
};

// The index of the first signalled handle from start on, or handles.size() when
// none is; waits for nothing.
size_t FirstSignalled(std::span<const HANDLE> handles, size_t start) noexcept;

#include "settings/ChangeWatch.h"

// Windows 8 and later: the notification belongs to no thread, so the arming
// thread's exit neither signals nor cancels it.
#ifndef REG_NOTIFY_THREAD_AGNOSTIC
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000L
#endif

namespace {

// Names, values and access: a key the user can no longer read answers otherwise.
constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

}  // namespace

bool RegistryWatch::Arm(HKEY root, const wchar_t* path, bool subtree) noexcept try {
    state_ = State::Unarmed;
    key_.Reset();
    root_ = root;
    path_ = path;
    event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event_) return false;

    const LSTATUS opened = RegOpenKeyExW(root, path, 0, KEY_NOTIFY | KEY_QUERY_VALUE, key_.Put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        state_ = State::Missing;
        return true;
    }
    if (opened != ERROR_SUCCESS) return false;

    // Before Windows 8 the flag is refused: the notification then stays tied to
    // this thread and fires when it exits, which only costs a fresh read.
    LSTATUS armed = RegNotifyChangeKeyValue(key_.Get(), subtree, kFilter | REG_NOTIFY_THREAD_AGNOSTIC, event_.Get(), TRUE);
    if (armed != ERROR_SUCCESS) armed = RegNotifyChangeKeyValue(key_.Get(), subtree, kFilter, event_.Get(), TRUE);
    if (armed != ERROR_SUCCESS) {
        key_.Reset();
        return false;
    }
    state_ = State::Watching;
    return true;
} catch (...) {
    state_ = State::Unarmed;
    key_.Reset();
    return false;
}

bool RegistryWatch::AnyChanged(std::initializer_list<const RegistryWatch*> watches, bool checkKeys) noexcept {
    HANDLE events[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    for (const RegistryWatch* watch : watches) {
        if (watch->state_ == State::Unarmed || count == MAXIMUM_WAIT_OBJECTS) return true;
        if (watch->state_ == State::Watching) events[count++] = watch->event_.Get();
    }
    // A failed wait proves nothing: it counts as a change.
    if (count > 0 && WaitForMultipleObjects(count, events, FALSE, 0) != WAIT_TIMEOUT) return true;
    if (!checkKeys) return false;
    for (const RegistryWatch* watch : watches) {
        if (watch->KeyChanged()) return true;
    }
    return false;
}

bool RegistryWatch::KeyChanged() const noexcept {
    if (state_ == State::Missing) {
        UniqueHKey key;
        return RegOpenKeyExW(root_, path_.c_str(), 0, KEY_NOTIFY, key.Put()) == ERROR_SUCCESS;
    }
    // A deleted key answers ERROR_KEY_DELETED; any other failure proves nothing either.
    return RegQueryInfoKeyW(key_.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr) != ERROR_SUCCESS;
}

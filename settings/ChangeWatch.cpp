#include "settings/ChangeWatch.h"

// Windows 8 and later: the notification belongs to no thread, so the arming
// thread's exit neither signals nor cancels it.
#ifndef REG_NOTIFY_THREAD_AGNOSTIC
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000L
#endif

namespace {

// Arms one notification on key (opened by the caller) into a new event.
bool Notify(HKEY key, bool subtree, DWORD filter, UniqueHandle& event) noexcept {
    event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return false;
    // Before Windows 8 the flag is refused: the notification then stays tied to
    // this thread and fires when it exits, which only costs a fresh read.
    LSTATUS armed = RegNotifyChangeKeyValue(key, subtree, filter | REG_NOTIFY_THREAD_AGNOSTIC, event.Get(), TRUE);
    if (armed != ERROR_SUCCESS) armed = RegNotifyChangeKeyValue(key, subtree, filter, event.Get(), TRUE);
    if (armed != ERROR_SUCCESS) event.Reset();
    return armed == ERROR_SUCCESS;
}

// Names, values and access: a key the user can no longer read answers otherwise.
constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

}  // namespace

bool RegistryWatch::Arm(HKEY root, const wchar_t* path, bool subtree) noexcept try {
    state_ = State::Unarmed;
    key_.Reset();
    event_.Reset();
    parentKey_.Reset();
    parentEvent_.Reset();
    root_ = root;
    path_ = path;

    const LSTATUS opened = RegOpenKeyExW(root, path, 0, KEY_NOTIFY | KEY_QUERY_VALUE, key_.Put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        state_ = State::Missing;
        return true;
    }
    if (opened != ERROR_SUCCESS) return false;
    if (!Notify(key_.Get(), subtree, kFilter, event_)) {
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

bool RegistryWatch::ArmWithParent(HKEY root, const wchar_t* path, bool subtree) noexcept try {
    // The parent first: a deletion between the two arms is then seen.
    UniqueHKey parentKey;
    UniqueHandle parentEvent;
    const CString full = path;
    const size_t slash = full.rfind(L'\\');
    const bool parentWatched =
        slash != CString::npos &&
        RegOpenKeyExW(root, full.substr(0, slash).c_str(), 0, KEY_NOTIFY, parentKey.Put()) == ERROR_SUCCESS &&
        Notify(parentKey.Get(), false, REG_NOTIFY_CHANGE_NAME, parentEvent);
    if (!Arm(root, path, subtree)) return false;
    if (parentWatched && state_ == State::Watching) {
        parentKey_ = std::move(parentKey);
        parentEvent_ = std::move(parentEvent);
    }
    return true;
} catch (...) {
    state_ = State::Unarmed;
    return false;
}

bool RegistryWatch::AnyChanged(std::initializer_list<const RegistryWatch*> watches) noexcept {
    HANDLE events[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    for (const RegistryWatch* watch : watches) {
        if (watch->state_ == State::Unarmed || count + 2 > MAXIMUM_WAIT_OBJECTS) return true;
        if (watch->state_ == State::Watching) events[count++] = watch->event_.Get();
        if (watch->parentEvent_) events[count++] = watch->parentEvent_.Get();
    }
    // A failed wait proves nothing: it counts as a change.
    if (count > 0 && WaitForMultipleObjects(count, events, FALSE, 0) != WAIT_TIMEOUT) return true;
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
    // The parent's watch reports the key's deletion.
    if (parentEvent_) return false;
    // A deleted key answers ERROR_KEY_DELETED; any other failure proves nothing either.
    return RegQueryInfoKeyW(key_.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr) != ERROR_SUCCESS;
}

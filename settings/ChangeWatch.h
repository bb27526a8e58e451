#pragma once
// Registry change notifications, polled without waiting: they tell cheaply
// whether a key or anything below it may have changed since the watch was
// armed. A watch holds only the product's own objects (a key handle and an
// event), nothing of the user's files or folders. It is armed before what it
// guards is read, so no change can slip in between.
#include <windows.h>

#include <initializer_list>

#include "common/CString.h"
#include "common/UniqueResource.h"

class RegistryWatch {
public:
    RegistryWatch() = default;
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

    // Arms the watch on root\path (and its subtree when asked). A missing key
    // counts as armed: AnyChanged then asks whether it exists yet. False when
    // nothing could be armed; AnyChanged then always answers true.
    bool Arm(HKEY root, const wchar_t* path, bool subtree) noexcept;

    // True when any watched key may have changed since Arm: a notification
    // fired, a watched key itself was deleted (which no notification reports),
    // or a key that was missing exists now. One wait covers every notification.
    // checkKeys false leaves out the question whether a watched key was
    // deleted or a missing one created, for keys that are never deleted. Safe
    // to call from several threads.
    static bool AnyChanged(std::initializer_list<const RegistryWatch*> watches, bool checkKeys = true) noexcept;

private:
    bool KeyChanged() const noexcept;

    enum class State { Unarmed, Watching, Missing };
    State state_ = State::Unarmed;
    HKEY root_ = nullptr;
    CString path_;
    UniqueHKey key_;
    UniqueHandle event_;
};

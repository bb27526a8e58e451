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
    // counts as armed: Changed() then asks whether it exists yet. False when
    // nothing could be armed; Changed() is then always true.
    bool Arm(HKEY root, const wchar_t* path, bool subtree) noexcept;

    // True when the key may have changed since Arm: the notification fired,
    // the watched key itself was deleted (which no notification reports), or
    // the key that was missing exists now. Safe to call from several threads.
    bool Changed() const noexcept { return AnyChanged({this}); }

    // The same for several watches, with one wait for all their notifications.
    // checkKeys false leaves out the question whether a watched key was
    // deleted or a missing one created, for keys that are never deleted.
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

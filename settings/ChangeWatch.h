#pragma once
// Registry change notifications, polled without waiting: they tell cheaply
// whether a key or anything below it may have changed since the watch was
// armed. A watch holds only the product's own objects (key handles and
// events), nothing of the user's files or folders. It is armed before what it
// guards is read, so no change can slip in between. The deletion of a watched
// key is no change a notification on the key reports, so the key's parent is
// watched for changes of its subkeys' names as well.
#include <windows.h>

#include <initializer_list>

#include "common/CString.h"
#include "common/UniqueResource.h"

class RegistryWatch {
public:
    RegistryWatch() = default;
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

    // Arms the watch on root\path (and its subtree when asked) and on its
    // parent, so that AnyChanged sees the key's deletion. A key at the root of
    // its hive has no parent to watch; its deletion is then asked of the key on
    // each AnyChanged.
    bool ArmWithParent(HKEY root, const wchar_t* path, bool subtree) noexcept;

    // True when any watched key may have changed since it was armed: a notification
    // fired (on the key, or on its parent when that is watched), a watched key
    // without a parent watch was deleted, or a key that was missing exists
    // now (one open each). One wait covers every notification. Safe to call
    // from several threads.
    static bool AnyChanged(std::initializer_list<const RegistryWatch*> watches) noexcept;

private:
    // Arms the watch on root\path (and its subtree when asked). A missing key
    // counts as armed: AnyChanged then asks whether it exists yet. False when
    // nothing could be armed; AnyChanged then always answers true.
    bool Arm(HKEY root, const wchar_t* path, bool subtree) noexcept;

    bool KeyChanged() const noexcept;

    enum class State { Unarmed, Watching, Missing };
    State state_ = State::Unarmed;
    HKEY root_ = nullptr;
    CString path_;
    UniqueHKey key_;
    UniqueHandle event_;
    UniqueHKey parentKey_;
    UniqueHandle parentEvent_;
};

#pragma once
// The notifications that every kept answer about the user's settings depends
// on, armed together and waited for once per operation: the machine's and the
// user's application keys with everything below them (the registered views)
// and the user's "User Shell Folders" key (the data folder). A generation
// number names one arming: an answer read under a generation holds while an
// operation finds that same generation, and any change arms a new one.
#include <windows.h>

#include <atomic>
#include <memory>

#include "settings/ChangeWatch.h"

class SettingsLight;

class SettingsWatch {
public:
    SettingsWatch() = default;
    SettingsWatch(const SettingsWatch&) = delete;
    SettingsWatch& operator=(const SettingsWatch&) = delete;

    // The generation now, after one zero-time wait for every notification,
    // arming anew when any has fired; 0 when nothing could be armed (then
    // nothing may be kept). Safe for concurrent callers.
    unsigned long long Current(SettingsLight& settings) noexcept;

private:
    struct Armed {
        RegistryWatch machine;
        RegistryWatch user;
        RegistryWatch shellFolders;
        unsigned long long generation = 0;
    };

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::shared_ptr<const Armed> armed_;
    std::atomic<unsigned long long> generations_{0};
};

// The one of the process, released when the module unloads.
SettingsWatch& ProcessSettingsWatch() noexcept;

// The key the shell's answer for the user's folders depends on ("Shell Folders"
// is a copy that the shell itself rewrites as it answers).
inline constexpr wchar_t kUserShellFoldersKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

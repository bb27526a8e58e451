#pragma once
// Force-included wherever GoogleTest is compiled with the mingw-w64 toolchain.
// Its win32 thread model (chosen so that no thread runtime is linked into the
// DLL) has no std::mutex, which GoogleTest uses in one class only: the
// notification that starts its own test threads. This one waits on an event.
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    ~Notification() {
        if (event_) CloseHandle(event_);
    }

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing

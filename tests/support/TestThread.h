#pragma once
// A thread for the tests. The toolchain's win32 thread model (chosen so that
// no thread runtime is linked into the DLL) has no std::thread; this is the
// part of it the tests use. Unlike std::thread, a joinable thread is joined
// when it goes rather than ending the process.
#include <windows.h>

#include <functional>
#include <memory>
#include <utility>

class TestThread {
public:
    TestThread() = default;
    template <class F>
    explicit TestThread(F&& body) {
        auto owned = std::make_unique<std::function<void()>>(std::forward<F>(body));
        handle_ = CreateThread(nullptr, 0, &Run, owned.get(), 0, nullptr);
        if (handle_) owned.release();
    }
    TestThread(TestThread&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    TestThread& operator=(TestThread&& other) noexcept {
        if (this != &other) {
            join();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    ~TestThread() { join(); }

    bool joinable() const noexcept { return handle_ != nullptr; }
    void join() noexcept {
        if (!handle_) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    static DWORD WINAPI Run(void* argument) {
        std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
        (*body)();
        return 0;
    }

    HANDLE handle_ = nullptr;
};

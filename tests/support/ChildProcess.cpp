#include "tests/support/TestMain.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <map>
#include <stdexcept>

namespace {

std::map<std::wstring, ChildModeFn>& ChildModes() {
    static std::map<std::wstring, ChildModeFn> modes;
    return modes;
}

std::wstring QuoteArgument(const std::wstring& arg) { return L"\"" + arg + L"\""; }

}  // namespace

ChildModeRegistration::ChildModeRegistration(const wchar_t* name, ChildModeFn fn) { ChildModes()[name] = fn; }

ChildProcess::ChildProcess(const std::wstring& mode, const std::vector<std::wstring>& args) {
    wchar_t self[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = QuoteArgument(self) + L" --child " + QuoteArgument(mode);
    for (const auto& arg : args) command += L" " + QuoteArgument(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        throw std::runtime_error("cannot start child process");
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
}

ChildProcess::~ChildProcess() {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
    CloseHandle(process_);
}

bool ChildProcess::Wait(DWORD timeoutMs) { return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0; }

DWORD ChildProcess::ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"--child") {
        auto it = ChildModes().find(argv[2]);
        if (it == ChildModes().end()) return 98;
        std::vector<std::wstring> args(argv + 3, argv + argc);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const int code = it->second(args);
        CoUninitialize();
        return code;
    }
    testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}

#include "tests/support/ChildProcess.h"

#include <objbase.h>

#include <map>
#include <stdexcept>
#include <string>

namespace {

constexpr int kStartAttempts = 3;

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
    // Starting a process has failed now and then under Wine on a loaded
    // machine, where the same start succeeds on its own: it is tried again
    // before the test fails, and the last error goes into the message.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (attempt > 0) Sleep(100);
        if (CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) break;
        error = GetLastError();
    }
    if (!info.hProcess) throw std::runtime_error("cannot start child process: error " + std::to_string(error));
    const UniqueHandle thread(info.hThread);
    process_.Reset(info.hProcess);
}

ChildProcess::~ChildProcess() {
    if (WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.Get(), 99);
}

bool ChildProcess::Wait(DWORD timeoutMs) { return WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0; }

DWORD ChildProcess::ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return code;
}

bool RunChildModeIfAsked(int argc, wchar_t** argv, int& exitCode) {
    if (argc < 3 || std::wstring(argv[1]) != L"--child") return false;
    auto it = ChildModes().find(argv[2]);
    if (it == ChildModes().end()) {
        exitCode = 98;
        return true;
    }
    std::vector<std::wstring> args(argv + 3, argv + argc);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    exitCode = it->second(args);
    CoUninitialize();
    return true;
}

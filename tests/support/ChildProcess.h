#pragma once
// Test executables can start copies of themselves as helper processes:
//   ChildProcess child(L"hold-lock", L"arg");   // runs the mode registered below
//   ITEMPLUGIN_CHILD_MODE(hold-lock) { ... return exit code; }
#include <windows.h>

#include <string>
#include <vector>

#include "common/UniqueResource.h"

using ChildModeFn = int (*)(const std::vector<std::wstring>& args);

struct ChildModeRegistration {
    ChildModeRegistration(const wchar_t* name, ChildModeFn fn);
};

#define ITEMPLUGIN_CHILD_MODE(ident, name)                                            \
    static int ChildMode_##ident(const std::vector<std::wstring>& args);             \
    static ChildModeRegistration childModeRegistration_##ident(name, ChildMode_##ident); \
    static int ChildMode_##ident(const std::vector<std::wstring>& args)

class ChildProcess {
public:
    ChildProcess(const std::wstring& mode, const std::vector<std::wstring>& args = {});
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Waits up to timeoutMs; true when the process ended in that time.
    bool Wait(DWORD timeoutMs);
    DWORD ExitCode() const;
    HANDLE Handle() const { return process_.Get(); }

private:
    UniqueHandle process_;
};

// When the command line asks for a child mode (--child NAME ARGS...), runs it
// and stores its exit code; false for an ordinary test run.
bool RunChildModeIfAsked(int argc, wchar_t** argv, int& exitCode);

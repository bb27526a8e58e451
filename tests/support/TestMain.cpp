// The entry point of every test program: a child mode when asked for one
// (see ChildProcess.h), otherwise the tests.
#include <gtest/gtest.h>
#include <objbase.h>

#include "tests/support/ChildProcess.h"

int wmain(int argc, wchar_t** argv) {
    int childExitCode = 0;
    if (RunChildModeIfAsked(argc, argv, childExitCode)) return childExitCode;
    testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}

// Every test executable starts the platform the way the program does, so the
// routines under test find common controls and the socket library ready.
#include <gtest/gtest.h>

#include <cstdio>
#include <winsock2.h>

#include "app/startup.h"

int main(int argc, char** argv) {
    // A crash ends the test at once instead of waiting in a debugger (Wine
    // starts one otherwise) until ctest's timeout; wirepad.exe started by the
    // black-box tests inherits this.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::testing::InitGoogleTest(&argc, argv);
    if (!StartNetworking()) {
        return 2;
    }
    int result = RUN_ALL_TESTS();
    WSACleanup();
    // Ended here, results flushed: an exit that hangs in the platform's
    // process teardown (seen now and then under Wine with parallel tests)
    // must not turn a passed run into a timeout.
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
    return result;
}

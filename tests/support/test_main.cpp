// Every test executable starts the platform the way the program does, so the
// routines under test find common controls and the socket library ready.
#include <gtest/gtest.h>
#include <winsock2.h>

#include "app/startup.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!StartNetworking()) {
        return 2;
    }
    int result = RUN_ALL_TESTS();
    WSACleanup();
    return result;
}

// Process entry. The program reads no command line: it runs the window and
// ends the process itself with exit code 0.
#include <windows.h>

#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RunWirepad();
}

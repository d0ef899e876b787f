// Start-up: the platform the window needs, and the module its template comes from.
#pragma once

#include <windows.h>

// Common controls, then the socket library (version 1.1). True when the
// socket library started.
bool StartNetworking();

// A ".mui" satellite beside the executable (its full path with ".mui"
// appended), mapped as a data file; the executable itself when there is none
// or it cannot be mapped. A satellite stays mapped until the process ends;
// one whose window cannot be made gives way to the executable's window.
HMODULE GetResourceModule();

// The whole life of the process after entry; ends it with exit code 0.
[[noreturn]] void RunWirepad();

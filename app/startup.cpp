#include "app/startup.h"

#include <winsock2.h>
#include <commctrl.h>

#include "app/main_window.h"
#include "resources/resource.h"

bool StartNetworking() {
    InitCommonControls();
    WSADATA description;
    return WSAStartup(MAKEWORD(1, 1), &description) == 0;
}

HMODULE GetResourceModule() {
    // MAX_PATH characters come back at most (a longer path is cut and probed
    // all the same); the ".mui" always fits after them.
    wchar_t path[MAX_PATH + 8] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    lstrcatW(path, L".mui");
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        if (HMODULE mapped = GetModuleHandleW(path)) {
            return mapped;
        }
        if (HMODULE satellite = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
            return satellite;
        }
    }
    return GetModuleHandleW(nullptr);
}

void RunWirepad() {
    if (StartNetworking()) {
        HMODULE resources = GetResourceModule();
        HMODULE own = GetModuleHandleW(nullptr);
        // A satellite that cannot supply the window (an old or foreign one)
        // gives way to the executable's own window rather than to no window.
        if (DialogBoxParamW(resources, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDlgProc, 0) == -1 &&
            resources != own) {
            DialogBoxParamW(own, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDlgProc, 0);
        }
        // Also releases the connections nothing else closes: waiting clients
        // and connections accepted from listeners.
        WSACleanup();
    }
    ExitProcess(0);
}

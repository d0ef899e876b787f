#include "net/notifications.h"

void HandleStreamEvent(HWND wnd, SOCKET s, WORD event) {
    (void)wnd;
    (void)s;
    (void)event;
}

void HandleDatagramEvent(HWND wnd, SOCKET s) {
    (void)wnd;
    (void)s;
}

void SendReply(HWND wnd, SOCKET s) {
    (void)wnd;
    (void)s;
}

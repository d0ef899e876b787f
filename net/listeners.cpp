#include "net/listeners.h"

void AddListener(HWND wnd, bool useTcp) {
    (void)wnd;
    (void)useTcp;
}

void RemoveListeners(HWND wnd, bool all) {
    (void)wnd;
    (void)all;
}

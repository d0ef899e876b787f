#include "net/received_log.h"

bool AppendReceived(HWND wnd, SOCKET s, bool addLineBreak) {
    (void)wnd;
    (void)s;
    (void)addLineBreak;
    return false;
}

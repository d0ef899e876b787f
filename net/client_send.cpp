#include "net/client_send.h"

void SendRequest(HWND wnd, bool useTcp, bool closeAfterSending) {
    (void)wnd;
    (void)useTcp;
    (void)closeAfterSending;
}

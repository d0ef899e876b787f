#include "net/channels.h"

#include "platform/sockets.h"

void CloseChannelSocket(HWND wnd, SOCKET s) {
    CloseRegisteredSocket(wnd, s, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM);
}

#include "net/channels.h"

namespace {

UINT ChannelOf(SocketKind kind) {
    return kind == SocketKind::kUdpListener ? WM_SOCKET_DATAGRAM : WM_SOCKET_STREAM;
}

// A TCP listener's connect, read and close events never come; its accepted
// connections inherit all of its events, and only read and close ever come
// for them. So a listener held back keeps those, and a connection accepted
// meanwhile still hears of its reads and its close.
long EventsOf(SocketKind kind, Interest interest) {
    switch (kind) {
    case SocketKind::kConnection:
        return FD_CLOSE | (interest.incoming ? FD_READ : 0) | (interest.writes ? FD_WRITE : 0);
    case SocketKind::kTcpListener:
        return FD_READ | FD_CONNECT | FD_CLOSE | (interest.incoming ? FD_ACCEPT : 0);
    default:
        return interest.incoming ? FD_READ : 0;
    }
}

}  // namespace

void RegisterSocket(HWND wnd, SOCKET s, SocketKind kind, Interest interest) {
    long events = EventsOf(kind, interest);
    if (events == 0) {
        CancelSocket(wnd, s);
        return;
    }
    WSAAsyncSelect(s, wnd, ChannelOf(kind), events);
}

void CancelSocket(HWND wnd, SOCKET s) {
    WSAAsyncSelect(s, wnd, 0, 0);
}

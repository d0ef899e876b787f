// The notification channels: which message and events each kind of socket is
// registered for. This is the one place that registers sockets with the
// platform; everything else says what it wants of a socket and asks here.
#pragma once

#include <winsock2.h>
#include <windows.h>

// The waiting TCP client, the TCP listeners and the connections accepted from them.
#define WM_SOCKET_STREAM (WM_USER + 1)
// The UDP listeners.
#define WM_SOCKET_DATAGRAM (WM_USER + 2)

enum class SocketKind {
    kConnection,   // the waiting client, and every connection accepted from a listener
    kTcpListener,  // accepts its connections, which inherit its registration
    kUdpListener,  // reads its datagrams
};

// What a registration asks for beyond a kind's fixed events.
struct Interest {
    // Reads (accepts, for a TCP listener). Off while the socket is held back:
    // then the platform posts nothing for what arrives, and posts one read
    // (or accept) at once when the socket is registered with them again while
    // something waits.
    bool incoming = true;
    // A connection's room to send: on while replies wait for the platform to
    // take them. The platform posts one write notification when room returns,
    // or at once when it is registered for it while there is room.
    bool writes = false;
};

// Registers the socket on its kind's channel: a connection for read and close
// (and write), a TCP listener for accept (and the read, connect and close
// events its connections inherit), a UDP listener for read. A socket asked
// for nothing is cancelled.
void RegisterSocket(HWND wnd, SOCKET s, SocketKind kind, Interest interest = Interest());

// Nothing more is posted for the socket; what is queued stays queued.
void CancelSocket(HWND wnd, SOCKET s);

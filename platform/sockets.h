// Socket operations shared by the client sends and the listeners.
//
// A socket the program creates is owned by an OwnedSocket until it is handed
// to the platform (registered for notifications, or listed as a listener), so
// that every failed step on the way closes it.
#pragma once

#include <winsock2.h>
#include <windows.h>

class OwnedSocket {
public:
    OwnedSocket() = default;
    explicit OwnedSocket(SOCKET s) : socket_(s) {}
    ~OwnedSocket() {
        if (socket_ != INVALID_SOCKET) {
            closesocket(socket_);
        }
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;

    explicit operator bool() const { return socket_ != INVALID_SOCKET; }
    SOCKET Get() const { return socket_; }

    // Hands the socket over: from here on something else closes it.
    SOCKET Release() {
        SOCKET s = socket_;
        socket_ = INVALID_SOCKET;
        return s;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
};

// A new IPv4 socket: TCP (stream) or UDP (datagram); INVALID_SOCKET on failure.
SOCKET OpenSocket(bool useTcp);

// An IPv4 address: `address` already in network order, the low 16 bits of
// `port` put into network order.
sockaddr_in MakeIpv4Address(ULONG address, UINT port);

// Takes every notification in [firstMessage, lastMessage] now queued for `wnd`
// off the queue once, in order, and posts again those for which keep(msg) is
// true, so that they keep their order. A marker posted behind them ends the
// pass, which needs no memory of its own. Returns false, having looked at
// nothing, when the marker cannot be posted.
//
// No PM_QS_POSTMESSAGE filter: under Wine it lets the pass stop short now and
// then, leaving notifications queued. The only messages dispatched during the
// pass are ones other threads send.
template <typename Keep>
bool SiftQueuedNotifications(HWND wnd, UINT firstMessage, UINT lastMessage, Keep keep) {
    // No notification names INVALID_SOCKET.
    const LPARAM kMarker = 0x57504D4B;
    if (!PostMessageW(wnd, firstMessage, static_cast<WPARAM>(INVALID_SOCKET), kMarker)) {
        return false;
    }
    MSG msg;
    while (PeekMessageW(&msg, wnd, firstMessage, lastMessage, PM_REMOVE)) {
        if (msg.wParam == static_cast<WPARAM>(INVALID_SOCKET) && msg.lParam == kMarker) {
            break;
        }
        if (keep(msg)) {
            PostMessageW(wnd, msg.message, msg.wParam, msg.lParam);
        }
    }
    return true;
}

// Takes every notification in [firstMessage, lastMessage] queued for socket
// `s` off the window's queue; the others keep their order.
void DropQueuedNotifications(HWND wnd, SOCKET s, UINT firstMessage, UINT lastMessage);

// Closes a socket registered for notifications on `wnd` so that nothing
// already queued for it can reach whatever socket next gets the same handle
// value: cancels the registration, drops the notifications in
// [firstMessage, lastMessage] still waiting for this socket (the others stay,
// in their order), then closes it.
void CloseRegisteredSocket(HWND wnd, SOCKET s, UINT firstMessage, UINT lastMessage);

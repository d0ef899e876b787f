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

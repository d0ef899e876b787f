// Loopback peers for network tests: sockets of the test's own on 127.0.0.1
// (port 0, read back) that talk to the program while the test pumps its
// messages with a deadline.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/sockets.h"
#include "support/message_pump.h"

inline u_short PortOf(SOCKET s) {
    sockaddr_in a{};
    int length = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// A socket of the test's own bound to 127.0.0.1 (port 0: the platform picks).
inline OwnedSocket BoundPeer(bool tcp, u_short port = 0) {
    OwnedSocket s(OpenSocket(tcp));
    sockaddr_in a = MakeIpv4Address(htonl(INADDR_LOOPBACK), port);
    if (bind(s.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0 || (tcp && listen(s.Get(), 5) != 0)) {
        return OwnedSocket();
    }
    return OwnedSocket(s.Release());
}

// Whether this process could take the port now, i.e. nobody holds it.
inline bool PortFree(bool tcp, u_short port) {
    return static_cast<bool>(BoundPeer(tcp, port));
}

// A port that was free a moment ago.
inline u_short FreePort() {
    return PortOf(BoundPeer(true).Get());
}

inline OwnedSocket ConnectPeer(u_short port) {
    OwnedSocket s(OpenSocket(true));
    sockaddr_in a = MakeIpv4Address(htonl(INADDR_LOOPBACK), port);
    if (connect(s.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0) {
        return OwnedSocket();
    }
    return OwnedSocket(s.Release());
}

inline bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval now{0, 0};
    return select(0, &set, nullptr, nullptr, &now) == 1;
}

// Accepts on a listening peer, pumping the window while waiting.
inline OwnedSocket AcceptPeer(SOCKET listener) {
    if (!PumpUntil([&] { return Readable(listener); }, 5000)) {
        return OwnedSocket();
    }
    return OwnedSocket(accept(listener, nullptr, nullptr));
}

// What arrives on a peer until `bytes` are in, the peer is closed, or
// timeoutMs passes (a quiet period when nothing more is expected).
struct PeerRead {
    std::string data;
    bool closed = false;
};
inline PeerRead ReadPeer(SOCKET s, size_t bytes, DWORD timeoutMs = 5000) {
    PeerRead r;
    PumpUntil(
        [&] {
            while (!r.closed && r.data.size() < bytes && Readable(s)) {
                char chunk[4096];
                int got = recv(s, chunk, sizeof(chunk), 0);
                if (got <= 0) {
                    r.closed = true;
                } else {
                    r.data.append(chunk, static_cast<size_t>(got));
                }
            }
            return r.closed || r.data.size() >= bytes;
        },
        timeoutMs);
    return r;
}

inline void SendAll(SOCKET s, const std::string& bytes) {
    send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
}

// A peer on a thread of its own that floods the window for at most 10 s,
// until it goes: datagrams of 6 bytes to a UDP port as fast as it can, or,
// given a connected socket, 64 KiB writes on it.
class Flood {
public:
    explicit Flood(u_short udpPort) : thread_([this, udpPort] {
        OwnedSocket s(OpenSocket(false));
        sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), udpPort);
        for (ULONGLONG end = GetTickCount64() + 10000; !stop_ && GetTickCount64() < end;) {
            sendto(s.Get(), "flood!", 6, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        }
    }) {}
    explicit Flood(SOCKET stream) : thread_([this, stream] {
        // Blocked sends end soon once the window stops reading.
        DWORD patience = 100;
        setsockopt(stream, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&patience), sizeof(patience));
        std::string block(65536, 'x');
        for (ULONGLONG end = GetTickCount64() + 10000; !stop_ && GetTickCount64() < end;) {
            SendAll(stream, block);
        }
    }) {}
    ~Flood() {
        stop_ = true;
        thread_.join();
    }
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

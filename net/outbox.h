// Replies the platform will not take now, kept for the connection until it
// can: a peer gets each reply whole or not at all.
//
// A peer that sends without reading fills the platform's send buffer; from
// then on a send takes part of a reply or none of it. What it did not take is
// kept, and later replies behind it, up to kOutboxBytes a connection, and
// sent when the platform posts that room has returned. A reply that does not
// fit is dropped whole, silently, as every failure is.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "platform/records.h"

// What one connection may keep waiting: about 400 replies of an ordinary
// HTML page, and more than any one reply (1,023 characters, 3 bytes each at
// most in a UTF-8 code page).
const int kOutboxBytes = 64 * 1024;

class Outboxes {
public:
    Outboxes() = default;
    ~Outboxes();
    Outboxes(const Outboxes&) = delete;
    Outboxes& operator=(const Outboxes&) = delete;

    // Sends the reply, or keeps what the platform does not take now. True
    // when the connection has just begun to wait for room.
    bool Send(SOCKET s, const char* bytes, int n);
    // Room has returned: sends what waits. True when nothing waits any more.
    bool SendWaiting(SOCKET s);
    bool Waiting(SOCKET s) const { return Find(s) >= 0; }
    bool Any() const { return boxes_.Count() > 0; }
    // Tries every connection whose replies wait: the platform's word that
    // room has returned is not all there is to go by.
    void SendEveryWaiting();
    // The connection is closed: what waits for it is dropped.
    void Forget(SOCKET s);

private:
    struct Outbox {
        SOCKET socket;
        char* bytes;  // kOutboxBytes
        int used;
    };

    int Find(SOCKET s) const;
    bool Keep(SOCKET s, const char* bytes, int n);
    void Drop(int i);

    Records<Outbox> boxes_;
};

#include "net/outbox.h"

Outboxes::~Outboxes() {
    while (boxes_.Count() > 0) {
        Drop(boxes_.Count() - 1);
    }
}

int Outboxes::Find(SOCKET s) const {
    for (int i = 0; i < boxes_.Count(); ++i) {
        if (boxes_[i].socket == s) {
            return i;
        }
    }
    return -1;
}

void Outboxes::Drop(int i) {
    HeapFree(GetProcessHeap(), 0, boxes_[i].bytes);
    boxes_.RemoveAt(i);
}

void Outboxes::Forget(SOCKET s) {
    int i = Find(s);
    if (i >= 0) {
        Drop(i);
    }
}

bool Outboxes::Keep(SOCKET s, const char* bytes, int n) {
    char* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kOutboxBytes));
    if (!block || n > kOutboxBytes || !boxes_.Append(Outbox{s, block, n})) {
        if (block) {
            HeapFree(GetProcessHeap(), 0, block);
        }
        return false;  // memory is short: the rest is dropped
    }
    CopyMemory(block, bytes, static_cast<SIZE_T>(n));
    return true;
}

bool Outboxes::Send(SOCKET s, const char* bytes, int n) {
    int i = Find(s);
    if (i >= 0) {
        // Replies go out in their order: this one waits behind the others,
        // or is dropped whole when it does not fit. The send that follows
        // makes sure room is not missed.
        Outbox& box = boxes_[i];
        if (box.used + n <= kOutboxBytes) {
            CopyMemory(box.bytes + box.used, bytes, static_cast<SIZE_T>(n));
            box.used += n;
        }
        SendWaiting(s);
        return false;
    }
    int sent = send(s, bytes, n, 0);
    if (sent == n) {
        return false;
    }
    if (sent == SOCKET_ERROR) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            return false;  // the connection has failed: its close follows
        }
        sent = 0;
    }
    return Keep(s, bytes + sent, n - sent);
}

bool Outboxes::SendWaiting(SOCKET s) {
    int i = Find(s);
    if (i < 0) {
        return true;
    }
    Outbox& box = boxes_[i];
    int sent = send(s, box.bytes, box.used, 0);
    if (sent == SOCKET_ERROR) {
        if (WSAGetLastError() == WSAEWOULDBLOCK) {
            return false;
        }
        Drop(i);  // the connection has failed: its close follows
        return true;
    }
    box.used -= sent;
    if (box.used > 0) {
        MoveMemory(box.bytes, box.bytes + sent, static_cast<SIZE_T>(box.used));
        return false;
    }
    Drop(i);
    return true;
}

void Outboxes::SendEveryWaiting() {
    // Highest first: a connection whose replies all went leaves the list.
    for (int i = boxes_.Count() - 1; i >= 0; --i) {
        SendWaiting(boxes_[i].socket);
    }
}

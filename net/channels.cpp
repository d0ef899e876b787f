#include "net/channels.h"

namespace {

// The events each kind is registered for. A TCP listener's connect, read and
// close events never come; its accepted connections inherit all four, and
// only read and close ever come for them.
const long kConnectionEvents = FD_READ | FD_CLOSE;
const long kTcpListenerEvents = FD_READ | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
const long kUdpListenerEvents = FD_READ;

// A fence is a stream message whose event code is 0, which no notification of
// the platform's has: its number stands where a notification's socket does,
// and this tag where the error code does.
const WORD kFenceTag = 0x4643;

UINT ChannelOf(SocketKind kind) {
    return kind == SocketKind::kUdpListener ? WM_SOCKET_DATAGRAM : WM_SOCKET_STREAM;
}

long EventsOf(SocketKind kind) {
    switch (kind) {
    case SocketKind::kConnection:
        return kConnectionEvents;
    case SocketKind::kTcpListener:
        return kTcpListenerEvents;
    default:
        return kUdpListenerEvents;
    }
}

bool SocketTypeIs(SOCKET s, int type) {
    int actual = 0;
    int length = sizeof(actual);
    return getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&actual), &length) == 0 && actual == type;
}

}  // namespace

void RegisterSocket(HWND wnd, SOCKET s, SocketKind kind) {
    WSAAsyncSelect(s, wnd, ChannelOf(kind), EventsOf(kind));
}

bool HoldBackReads(HWND wnd, SOCKET s, SocketKind kind) {
    if (kind == SocketKind::kTcpListener ||
        !SocketTypeIs(s, kind == SocketKind::kConnection ? SOCK_STREAM : SOCK_DGRAM)) {
        return false;
    }
    long others = EventsOf(kind) & ~FD_READ;
    WSAAsyncSelect(s, wnd, others ? ChannelOf(kind) : 0, others);
    return true;
}

void ResumeReads(HWND wnd, SOCKET s, SocketKind kind) {
    RegisterSocket(wnd, s, kind);
}

ClosedSockets::~ClosedSockets() {
    SeeThroughAll();
}

bool ClosedSockets::Note(SOCKET s, bool open) {
    if (count_ == kCapacity) {
        return false;
    }
    // Nothing more is posted for it from here: every notification it has is
    // already queued, ahead of the fence that is yet to be posted.
    WSAAsyncSelect(s, wnd_, 0, 0);
    closed_[count_++] = Closed{s, posted_ + 1, open};
    return true;
}

bool ClosedSockets::CloseLater(SOCKET s) {
    return Note(s, true);
}

bool ClosedSockets::CloseNow(SOCKET s) {
    if (!Note(s, true)) {
        return false;
    }
    // Only once a fence stands behind what is queued for it may its value go
    // to another socket; a queue too full to take the fence closes it later.
    if (PostNextFence()) {
        closesocket(s);
        closed_[count_ - 1].open = false;
    }
    return true;
}

bool ClosedSockets::PostNextFence() {
    if (!PostMessageW(wnd_, WM_SOCKET_STREAM, static_cast<WPARAM>(posted_ + 1), WSAMAKESELECTREPLY(0, kFenceTag))) {
        return false;
    }
    ++posted_;
    return true;
}

void ClosedSockets::PostFence() {
    if (posted_ != returned_) {
        return;  // the fence out covers them or is followed by the next
    }
    for (int i = 0; i < count_; ++i) {
        if (closed_[i].fence > posted_) {
            PostNextFence();
            return;
        }
    }
}

void ClosedSockets::SeeThroughAll() {
    for (int i = 0; i < count_; ++i) {
        if (closed_[i].open) {
            closesocket(closed_[i].socket);
        }
    }
    count_ = 0;
    returned_ = posted_;  // a fence still counted out is no longer queued
}

Notice ClosedSockets::Judge(UINT message, SOCKET s, LPARAM lParam) {
    if (WSAGETSELECTEVENT(lParam) == 0) {
        unsigned number = static_cast<unsigned>(s);
        if (message == WM_SOCKET_STREAM && WSAGETSELECTERROR(lParam) == kFenceTag && number > returned_ &&
            number <= posted_) {
            returned_ = number;
            int kept = 0;
            for (int i = 0; i < count_; ++i) {
                if (closed_[i].fence <= number) {
                    if (closed_[i].open) {
                        closesocket(closed_[i].socket);
                    }
                } else {
                    closed_[kept++] = closed_[i];
                }
            }
            count_ = kept;
            PostFence();
        }
        return Notice::kMarker;
    }
    for (int i = 0; i < count_; ++i) {
        if (closed_[i].socket == s) {
            return Notice::kStale;
        }
    }
    return Notice::kLive;
}

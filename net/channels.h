// The notification channels: which message and events each kind of socket is
// registered for, holding a flooding socket's reads back, and closing a socket
// so that the notifications still queued for it never reach a newer socket
// that the platform hands the same handle value.
//
// A notification carries only the handle value, and the platform reuses the
// value of a closed socket at once. Sweeping the queue at every close would
// cost a pass over the whole queue each time, and a sweep that re-posts what
// it keeps lets notifications arriving meanwhile overtake older ones. So a
// close is noted instead, and a numbered fence is posted behind everything
// queued: what comes for a noted handle before its fence is stale.
//
// A connection its peer closed is closed later: its registration is cancelled
// at once, so nothing more is posted for it, but it keeps its handle, so no
// new socket can take the value, until nothing queued can name it: when the
// queue falls quiet (the run then sees everything it closed through at once),
// or, under a load that never lets it, when a fence posted behind everything
// queued comes back. One fence covers every close made before it was posted,
// so a run posts at most about one a pass over the queue, however many
// connections it closes. A listener is closed now, so that its port is free
// at once; a fence is posted right behind it, before any socket can be made
// with its value, and what comes after that fence is the new socket's.
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

// Registers the socket on its kind's channel for its kind's events.
void RegisterSocket(HWND wnd, SOCKET s, SocketKind kind);

// Every receive that leaves data waiting makes the platform post another read
// notification, so a drain of many chunks from a flooding socket queues about
// as many notifications as it reads. HoldBackReads keeps the socket's other
// events and stops its reads; ResumeReads registers it whole again, which posts
// one read notification if data still waits. Only a socket of the kind's type
// is held back: a handle that is something else by now is left as it is.
// Returns whether it held back.
bool HoldBackReads(HWND wnd, SOCKET s, SocketKind kind);
void ResumeReads(HWND wnd, SOCKET s, SocketKind kind);

// What a notification taken off the queue is, for a run that has closed sockets.
enum class Notice {
    kLive,    // the platform's notification for a socket that is open
    kStale,   // queued for a socket closed here, before its fence: drop it
    kMarker,  // a fence (taken care of here), or one of no run of this window's
};

// The sockets closed by one run of notifications whose fence has not come
// back yet. Lives with the run; the run does not end while one is out.
class ClosedSockets {
public:
    explicit ClosedSockets(HWND wnd) : wnd_(wnd) {}
    // A run that ends early (the window has ended) closes what waits.
    ~ClosedSockets();
    ClosedSockets(const ClosedSockets&) = delete;
    ClosedSockets& operator=(const ClosedSockets&) = delete;

    // A connection whose peer has closed: cancelled now, closed when the
    // queue falls quiet or its fence comes back. False, with nothing done,
    // when the list is full.
    bool CloseLater(SOCKET s);
    // A listener, or a socket never used: closed now, with a fence of its own.
    // False, with nothing done, when the list is full.
    bool CloseNow(SOCKET s);

    // What the notification is. A fence that comes back closes and forgets
    // what it covers, and posts the next fence if closes still wait for one.
    Notice Judge(UINT message, SOCKET s, LPARAM lParam);

    bool Empty() const { return count_ == 0; }
    // Nearly full: the run takes no more closes of its own until a fence is
    // back, so that those a person's commands make always fit.
    bool NearlyFull() const { return count_ >= kCapacity - kReserve; }

    // The queue cannot fall quiet in time: a fence goes behind what is queued
    // for the closes that wait, unless one is out already.
    void PostFence();
    // The queue holds no posted message: nothing queued can name a socket
    // closed here, so every one is closed and forgotten.
    void SeeThroughAll();

private:
    static const int kCapacity = 64;
    static const int kReserve = 16;

    struct Closed {
        SOCKET socket;
        unsigned fence;  // the fence that comes back after every notification for it
        bool open;       // closed later, when that fence comes back
    };

    bool Note(SOCKET s, bool open);
    bool PostNextFence();

    HWND wnd_;
    Closed closed_[kCapacity];
    int count_ = 0;
    unsigned posted_ = 0;    // the last fence posted
    unsigned returned_ = 0;  // the last fence that came back
};

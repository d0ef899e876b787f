// The record of closed sockets: closing a socket so that the notifications
// still queued for it never reach a newer socket that the platform hands the
// same handle value.
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
// new socket can take the value, until nothing queued can name it. That is
// when a timer comes, which the window system hands out only when no posted
// message waits; or, under a load that never lets the queue fall quiet, when
// a fence posted behind everything queued comes back. One fence is out for
// such closes at a time, and it covers every close made before it was
// posted, so under a churn of connections about one fence goes round a pass
// over the queue. A listener is closed now, so that its port is free at once:
// a fence of its own is posted right behind it, before any socket can be made
// with its value, and what comes after that fence is the new socket's.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "platform/records.h"

// The timer that sees closes through once the queue has fallen quiet.
const UINT_PTR kSeeThroughTimer = 0x5753;

// What a notification taken off the queue is.
enum class Notice {
    kLive,   // the platform's notification for a socket that is open
    kStale,  // queued for a socket closed here, before its fence: drop it
    kFence,  // a fence (taken care of here), or a message of no socket
};

class ClosedSockets {
public:
    explicit ClosedSockets(HWND wnd) : wnd_(wnd) {}
    // The window has ended: what waits for its fence is closed now.
    ~ClosedSockets() { SeeThroughAll(); }
    ClosedSockets(const ClosedSockets&) = delete;
    ClosedSockets& operator=(const ClosedSockets&) = delete;

    // A connection whose peer has closed: cancelled now, closed when the
    // queue falls quiet or its fence comes back.
    void CloseLater(SOCKET s);
    // A listener, or a socket registered but never used: closed now, with a
    // fence of its own.
    void CloseNow(SOCKET s);

    // What the notification is. A fence that comes back closes and forgets
    // what it covers, and posts the next fence if closes wait for one.
    Notice Judge(UINT message, SOCKET s, LPARAM lParam);

    // After each event: when closes have waited a while and the queue has
    // not fallen quiet, a fence goes behind what is queued (again, if the
    // queue had no room for it).
    void PostOwedFence();

    // The see-through timer (nothing posted waits), or the window ends
    // (nothing queued will be handled any more): every socket noted is closed
    // and forgotten.
    void SeeThroughAll();

    int Count() const { return closed_.Count(); }

private:
    struct Closed {
        SOCKET socket;
        unsigned fence;  // the first fence posted after the close
        bool open;       // closed when that fence comes back
    };

    void Note(SOCKET s);
    bool PostNextFence();

    HWND wnd_;
    Records<Closed> closed_;
    unsigned posted_ = 0;    // the last fence posted
    unsigned returned_ = 0;  // the last fence that came back
    unsigned newest_ = 0;    // the fence the latest close waits for
    ULONGLONG waitingSince_ = 0;  // when the oldest close that no fence covers was made
    bool quietTimer_ = false;
};

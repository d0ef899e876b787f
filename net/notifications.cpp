#include "net/notifications.h"

#include "net/channels.h"
#include "net/received_log.h"
#include "platform/sockets.h"
#include "platform/text_codec.h"
#include "platform/waiting_input.h"
#include "resources/resource.h"

namespace {

// How long one run of notifications may hold the window, and how long it
// waits for the next one when none is queued: a client that waits for its
// answer sends again within a millisecond or two.
const ULONGLONG kRunMilliseconds = 40;
const DWORD kIdleMilliseconds = 5;
// How many connections one run may close before it ends.
const int kClosesPerRun = 64;
// How many sockets that keep filling up one run remembers (see Drain).
const int kBusyPerRun = 16;
// How often a run looks for a person's input besides right after its first
// notification, and how many input messages it takes at a time: a click is a
// handful, and the run's own work must not wait behind a key held down.
const ULONGLONG kInputMilliseconds = 10;
// How soon it looks again after it has handled input: a click or a key comes
// in two halves, and the release is only just behind the press.
const ULONGLONG kInputFollowUpMilliseconds = 2;
const int kInputPerPause = 64;

// Posted behind everything queued when a run closes a connection: whatever
// comes for that handle before it was meant for the closed connection. No
// platform notification has an event code of 0.
const LPARAM kClosedMarker = WSAMAKESELECTREPLY(0, 0x434C);

void SendReplyText(HWND replyBox, SOCKET s) {
    wchar_t reply[1024];
    if (SendMessageW(replyBox, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(reply)) == 0) {
        return;
    }
    AnsiText bytes = ConvertToAnsi(reply, lstrlenW(reply));
    if (bytes.block) {
        send(s, bytes.block.Narrow(), bytes.bytes, 0);
    }
}

// The notifications one handler goes through, and what they share: the
// received text, drawn once at the end, and the connections closed on the way.
//
// A connection closed here is not swept off the queue at once, which would
// cost a pass over the whole queue for every close: its handle is noted and a
// marker posted behind everything queued. Notifications for that handle met
// before the marker are dropped; after it, the handle belongs to whatever
// socket got it next. What is still queued when the run ends is swept in one
// pass for all of them.
class NotificationRun {
public:
    explicit NotificationRun(HWND wnd) : wnd_(wnd), log_(wnd), replyBox_(GetDlgItem(wnd, IDC_REPLY_TEXT)) {}
    ~NotificationRun() { SweepClosed(); }
    NotificationRun(const NotificationRun&) = delete;
    NotificationRun& operator=(const NotificationRun&) = delete;

    bool CanTakeMore() const { return closedCount_ < kClosesPerRun; }

    // Leaves nothing half done before a person acts on the window: the text
    // so far is in the box and drawn, and the connections closed so far are
    // swept off the queue with their markers. Whatever the input does then
    // (empty the box, close sockets, open new ones that get the closed
    // handles' values) meets a queue that holds live notifications only.
    void Pause() {
        log_.Flush();
        SweepClosed();
    }

    void Handle(UINT message, SOCKET s, LPARAM lParam) {
        if (message == WM_SOCKET_STREAM && lParam == kClosedMarker) {
            Forget(s);
            return;
        }
        if (ClosedHere(s)) {
            return;  // queued for a connection this run closed
        }
        if (message == WM_SOCKET_DATAGRAM) {
            const HoldBack listener{wnd_, WM_SOCKET_DATAGRAM, FD_READ, SOCK_DGRAM, Busy(s)};
            NoteBusy(s, log_.Drain(s, true, &listener));
        } else {
            HandleStream(s, WSAGETSELECTEVENT(lParam));
        }
        // In the box before anything else can run: messages other threads
        // send are handled while the run looks at the queue, and a click
        // that empties the box must find this notification's text in it.
        log_.Show();
    }

private:
    void HandleStream(SOCKET s, WORD event) {
        switch (event) {
        case FD_READ: {
            // Asked for again as the waiting client registered: on a
            // connection, the listeners' accept and connect events never
            // come, so accepted connections lose nothing by it.
            const HoldBack connection{wnd_, WM_SOCKET_STREAM, FD_READ | FD_CLOSE, SOCK_STREAM, Busy(s)};
            NoteBusy(s, log_.Drain(s, false, &connection));
            Answer(s);
            break;
        }
        case FD_ACCEPT: {
            // The new connection inherits the listener's channel and events;
            // it is recorded nowhere and closes on its own close notification.
            sockaddr_in peer{};
            int length = sizeof(peer);
            accept(s, reinterpret_cast<sockaddr*>(&peer), &length);
            break;
        }
        case FD_CLOSE: {
            // The close may be posted while data is still unread: show all of
            // it first, and answer it as a read would, since a peer that only
            // shut down its sending side still waits for the reply.
            DrainResult drain;
            bool drained = false;
            do {
                drain = log_.Drain(s, false);
                drained = drained || drain.received;
            } while (drain.end == DrainEnd::kChunkLimit);
            if (drained) {
                Answer(s);
            }
            // A close notification can name a live connection: when a peer
            // resets before its connection is accepted, the platform may drop
            // that connection yet leave its close notification queued, and the
            // next accepted connection gets the same handle value. Only a
            // receive that says the peer closed or failed closes it; one that
            // would block is a live connection, and a listener or a handle that
            // is no socket is not this close's business.
            if (drain.end == DrainEnd::kPeerClosed || drain.end == DrainEnd::kFailed) {
                Close(s);
            }
            break;
        }
        default:
            break;
        }
    }

    // The text a peer caused is in the box before the peer gets its answer.
    void Answer(SOCKET s) {
        log_.Show();
        SendReplyText(replyBox_, s);
    }

    // Closed first, then marked: closing ends the socket's notifications, so
    // every one the platform posted for it lies before the marker. Nothing can
    // take the handle value between the two: only this thread makes sockets.
    void Close(SOCKET s) {
        for (int i = 0; i < busyCount_; ++i) {
            if (busy_[i] == s) {
                busy_[i] = busy_[--busyCount_];
                break;
            }
        }
        if (!CanTakeMore()) {
            CloseChannelSocket(wnd_, s);  // swept at once
            return;
        }
        closesocket(s);
        if (PostMessageW(wnd_, WM_SOCKET_STREAM, static_cast<WPARAM>(s), kClosedMarker)) {
            closed_[closedCount_++] = s;
        } else {
            DropQueuedNotifications(wnd_, s, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM);
        }
    }

    // A socket whose last drain in this run stopped with data still waiting
    // is flooding: its next drains hold its notifications back from the
    // start, so that each posts at most one more.
    bool Busy(SOCKET s) const {
        for (int i = 0; i < busyCount_; ++i) {
            if (busy_[i] == s) {
                return true;
            }
        }
        return false;
    }

    void NoteBusy(SOCKET s, DrainResult drain) {
        if (drain.end == DrainEnd::kChunkLimit && busyCount_ < kBusyPerRun && !Busy(s)) {
            busy_[busyCount_++] = s;
        }
    }

    bool ClosedHere(SOCKET s) const {
        for (int i = 0; i < closedCount_; ++i) {
            if (closed_[i] == s) {
                return true;
            }
        }
        return false;
    }

    // One marker has come back: the oldest close of that handle is done with.
    // (A handle closed twice in one run is noted twice.)
    void Forget(SOCKET s) {
        for (int i = 0; i < closedCount_; ++i) {
            if (closed_[i] == s) {
                closed_[i] = closed_[--closedCount_];
                return;
            }
        }
    }

    void SweepClosed() {
        if (closedCount_ == 0) {
            return;
        }
        SiftQueuedNotifications(wnd_, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM, [this](const MSG& msg) {
            SOCKET s = static_cast<SOCKET>(msg.wParam);
            if (msg.message == WM_SOCKET_STREAM && msg.lParam == kClosedMarker) {
                Forget(s);
                return false;
            }
            return !ClosedHere(s);
        });
        closedCount_ = 0;
    }

    HWND wnd_;
    ReceivedLog log_;
    HWND replyBox_;
    SOCKET closed_[kClosesPerRun];
    int closedCount_ = 0;
    SOCKET busy_[kBusyPerRun];
    int busyCount_ = 0;
};

}  // namespace

void HandleSocketNotifications(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    NotificationRun run(wnd);
    run.Handle(message, static_cast<SOCKET>(wParam), lParam);
    // Messages other threads send to the window are handled inside the look
    // at the queue; the text they can read is always what has been shown.
    auto takeNext = [&] {
        MSG msg;
        if (!PeekMessageW(&msg, wnd, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM, PM_REMOVE)) {
            return false;
        }
        run.Handle(msg.message, static_cast<SOCKET>(msg.wParam), msg.lParam);
        return true;
    };
    ULONGLONG start = GetTickCount64();
    // The first look comes at once, right after the first notification.
    ULONGLONG inputCheck = start;
    ULONGLONG inputInterval = 0;
    for (;;) {
        // Input goes first, whenever it waits, and so does any other message
        // posted to the window: the notifications queued behind them stay
        // queued, in their order, and the run goes on with them afterwards.
        // Looked for between notifications, never while one is half handled.
        ULONGLONG now = GetTickCount64();
        if (now - inputCheck >= inputInterval) {
            inputCheck = now;
            inputInterval = kInputMilliseconds;
            if (InputWaiting(WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM) && InputIsTheDialogs(wnd)) {
                run.Pause();
                HandleWaitingInput(wnd, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM, kInputPerPause);
                if (!DialogRunning(wnd)) {
                    return;  // closed: what is still queued is no one's business
                }
                inputCheck = GetTickCount64();
                inputInterval = kInputFollowUpMilliseconds;
            }
        }
        ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= kRunMilliseconds || !run.CanTakeMore()) {
            break;
        }
        if (takeNext()) {
            continue;
        }
        // No notification queued: anything else waiting (a click, a key, a
        // posted message) goes first. A posted message seen here is most
        // often a notification that came just after the look above.
        DWORD waiting = HIWORD(GetQueueStatus(QS_ALLPOSTMESSAGE | QS_INPUT));
        if ((waiting & QS_ALLPOSTMESSAGE) && !(waiting & QS_INPUT) && takeNext()) {
            continue;
        }
        if (waiting != 0) {
            break;
        }
        DWORD left = static_cast<DWORD>(kRunMilliseconds - elapsed);
        DWORD wait = left < kIdleMilliseconds ? left : kIdleMilliseconds;
        if (MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLPOSTMESSAGE | QS_SENDMESSAGE | QS_INPUT,
                                        MWMO_INPUTAVAILABLE) == WAIT_TIMEOUT) {
            break;
        }
    }
}

void HandleStreamEvent(HWND wnd, SOCKET s, WORD event) {
    NotificationRun run(wnd);
    run.Handle(WM_SOCKET_STREAM, s, WSAMAKESELECTREPLY(event, 0));
}

void HandleDatagramEvent(HWND wnd, SOCKET s) {
    NotificationRun run(wnd);
    run.Handle(WM_SOCKET_DATAGRAM, s, WSAMAKESELECTREPLY(FD_READ, 0));
}

void SendReply(HWND wnd, SOCKET s) {
    SendReplyText(GetDlgItem(wnd, IDC_REPLY_TEXT), s);
}

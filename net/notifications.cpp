#include "net/notifications.h"

#include "net/channels.h"
#include "net/received_log.h"
#include "platform/text_codec.h"
#include "platform/waiting_input.h"
#include "resources/resource.h"

namespace {

// How long a run takes notifications before it only sees through what it has
// closed, and how long the queue must stay quiet before it ends: a client
// that waits for its answer sends again within a millisecond or two.
const ULONGLONG kRunMilliseconds = 40;
const UINT kQuietMilliseconds = 5;
const UINT_PTR kQuietTimer = 0x5750;
// How often a run looks for a person's input besides right at its start, how
// soon it looks again after it handled some (a click or a key comes in two
// halves, the release just behind the press), and how many input messages it
// takes at a time: a click is a handful, and the run's own work must not wait
// behind a key held down.
const ULONGLONG kInputMilliseconds = 10;
const ULONGLONG kInputFollowUpMilliseconds = 2;
const int kInputPerPause = 64;
// A flood keeps a socket full, so one notification reads at most this many
// chunks; the platform posts a new read notification for what is left.
const int kChunksPerNotification = 32;
// How many sockets that keep filling up one run remembers (see AppendReceived).
const int kFloodingPerRun = 16;
// The error word of a close notification that a run whose time was up put
// back behind the queue: the next run that meets it closes the connection.
const WORD kDeferredClose = 0xFFFF;

// One run of notifications and what its notifications share: the received
// text, shown and drawn when someone may look, and the sockets closed on the
// way. While it lives the window's DWLP_USER points to it.
struct NotificationRun {
    explicit NotificationRun(HWND w) : wnd(w), log(w), closed(w) {}
    HWND wnd;
    ReceivedLog log;
    ClosedSockets closed;
    HWND replyBox = nullptr;  // looked up when first needed
    bool finishing = false;   // time is up: it only sees what it closed through
    // Sockets that a drain of this run left with data still waiting, open all
    // the while: a socket the run closes leaves the list before its handle
    // value can go to another.
    SOCKET flooding[kFloodingPerRun];
    int floodingCount = 0;
};

bool Flooding(const NotificationRun& run, SOCKET s) {
    for (int i = 0; i < run.floodingCount; ++i) {
        if (run.flooding[i] == s) {
            return true;
        }
    }
    return false;
}

void NoteFlooding(NotificationRun& run, SOCKET s, bool flooding) {
    for (int i = 0; i < run.floodingCount; ++i) {
        if (run.flooding[i] == s) {
            if (!flooding) {
                run.flooding[i] = run.flooding[--run.floodingCount];
            }
            return;
        }
    }
    if (flooding && run.floodingCount < kFloodingPerRun) {
        run.flooding[run.floodingCount++] = s;
    }
}

NotificationRun* ActiveRun(HWND wnd) {
    return reinterpret_cast<NotificationRun*>(GetWindowLongPtrW(wnd, DWLP_USER));
}

// Makes a run the window's active one for its life.
class ActiveRunScope {
public:
    explicit ActiveRunScope(NotificationRun& run) : wnd_(run.wnd) {
        SetWindowLongPtrW(wnd_, DWLP_USER, reinterpret_cast<LONG_PTR>(&run));
    }
    ~ActiveRunScope() { SetWindowLongPtrW(wnd_, DWLP_USER, 0); }
    ActiveRunScope(const ActiveRunScope&) = delete;
    ActiveRunScope& operator=(const ActiveRunScope&) = delete;

private:
    HWND wnd_;
};

// Wakes a run that waits for the next message once the queue has been quiet.
class QuietTimer {
public:
    explicit QuietTimer(HWND wnd) : wnd_(wnd), set_(SetTimer(wnd, kQuietTimer, kQuietMilliseconds, nullptr) != 0) {}
    ~QuietTimer() {
        if (set_) {
            KillTimer(wnd_, kQuietTimer);
        }
    }
    QuietTimer(const QuietTimer&) = delete;
    QuietTimer& operator=(const QuietTimer&) = delete;
    explicit operator bool() const { return set_; }

private:
    HWND wnd_;
    bool set_;
};

// What the last receive of AppendReceived said.
enum class ReadEnd {
    kPeerClosed,      // 0: the peer closed (or an empty datagram)
    kNothingWaiting,  // would block, or a stream gave less than a chunk: all there was
    kNotConnected,    // the handle is no connection: a listener, or no socket at all
    kFailed,          // any other error: a reset, an abort, a datagram too long
    kChunkLimit,      // stopped after the most chunks one notification reads
};

struct Received {
    bool any = false;  // at least one chunk came
    ReadEnd end = ReadEnd::kChunkLimit;
};

ReadEnd EndOfFailedReceive(int error) {
    switch (error) {
    case WSAEWOULDBLOCK:
        return ReadEnd::kNothingWaiting;
    case WSAENOTCONN:
    case WSAENOTSOCK:
        return ReadEnd::kNotConnected;
    default:
        return ReadEnd::kFailed;
    }
}

// Moves what the socket has waiting into the log, a chunk of at most 1,023
// bytes at a time and at most one notification's worth; a UDP listener's
// datagrams are followed by one CR LF, whether or not any came. A stream read
// stops at a chunk shorter than the buffer, which took all that waited (more
// arriving now brings a read notification of its own), unless `toTheEnd`: a
// close wants to see the peer's end.
//
// A second chunk means a flood: the socket's reads are held back for the rest
// of the drain, and from its first receive on in the run's later drains, so
// that each drain leaves at most the one read notification its end posts.
Received AppendReceived(NotificationRun& run, SOCKET s, SocketKind kind, bool toTheEnd) {
    Received result;
    bool heldBack = Flooding(run, s) && HoldBackReads(run.wnd, s, kind);
    bool room = run.log.HasRoom();
    char chunk[kChunkBytes];
    for (int n = 0; n < kChunksPerNotification; ++n) {
        int got = recv(s, chunk, kChunkBytes, 0);
        if (got == 0) {
            result.end = ReadEnd::kPeerClosed;
            break;
        }
        if (got == SOCKET_ERROR) {
            result.end = EndOfFailedReceive(WSAGetLastError());
            break;
        }
        result.any = true;
        if (n == 1 && !heldBack) {
            heldBack = HoldBackReads(run.wnd, s, kind);
        }
        if (room) {
            run.log.AddChunk(chunk, got);
            room = run.log.HasRoom();
        }
        // A full box shows nothing more; the data is still read.
        if (kind == SocketKind::kConnection && !toTheEnd && got < kChunkBytes) {
            result.end = ReadEnd::kNothingWaiting;
            break;
        }
    }
    if (heldBack) {
        ResumeReads(run.wnd, s, kind);
    }
    if (result.end == ReadEnd::kChunkLimit) {
        NoteFlooding(run, s, true);
    }
    if (kind == SocketKind::kUdpListener && room) {
        run.log.AddLineBreak();
    }
    return result;
}

// Sends the reply text, as it stands now, whoever set it; nothing when it is
// empty. The text the peer caused is in the box before the peer has its answer.
void SendReply(NotificationRun& run, SOCKET s) {
    if (!run.replyBox) {
        run.replyBox = GetDlgItem(run.wnd, IDC_REPLY_TEXT);
    }
    wchar_t reply[1024];
    if (SendMessageW(run.replyBox, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(reply)) == 0) {
        return;
    }
    run.log.Show();
    AnsiText bytes = ConvertToAnsi(reply, lstrlenW(reply));
    if (bytes.block) {
        send(s, bytes.block.Narrow(), bytes.bytes, 0);
    }
}

// The close notification, or the run's own copy of it: the close may be
// posted while data is still unread, so all of it is shown first, and answered
// as a read would be, since a peer that only shut down its sending side still
// waits for the reply. A close notification can also name a live connection:
// when a peer resets before its connection is accepted, the platform may drop
// that connection yet leave its close queued for the handle value the next
// accepted connection gets. Only a receive that says the peer closed or failed
// closes it; one that would block is a live connection, and a listener or a
// handle that is no socket is not this close's business.
void HandleClose(NotificationRun& run, SOCKET s, LPARAM lParam) {
    // Time is up: the run takes no more closes of its own, so that it ends
    // once what it closed is seen through. The next run closes this one.
    if ((run.finishing || run.closed.NearlyFull()) && WSAGETSELECTERROR(lParam) != kDeferredClose &&
        PostMessageW(run.wnd, WM_SOCKET_STREAM, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(FD_CLOSE, kDeferredClose))) {
        return;
    }
    Received received;
    bool any = false;
    do {
        received = AppendReceived(run, s, SocketKind::kConnection, true);
        any = any || received.any;
        // More waits than one notification reads: the rest, and the close,
        // at its turn behind the queue.
    } while (received.end == ReadEnd::kChunkLimit &&
             !PostMessageW(run.wnd, WM_SOCKET_STREAM, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(FD_CLOSE, 0)));
    if (any) {
        SendReply(run, s);
    }
    if (received.end != ReadEnd::kPeerClosed && received.end != ReadEnd::kFailed) {
        return;
    }
    NoteFlooding(run, s, false);
    if (!run.closed.CloseLater(s)) {
        PostMessageW(run.wnd, WM_SOCKET_STREAM, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(FD_CLOSE, 0));
    }
}

void HandleStreamEvent(NotificationRun& run, SOCKET s, WORD event, LPARAM lParam) {
    switch (event) {
    case FD_READ:
        // Every read is answered, whether or not the drain found data.
        if (AppendReceived(run, s, SocketKind::kConnection, false).end != ReadEnd::kNotConnected) {
            SendReply(run, s);
        }
        break;
    case FD_ACCEPT:
        // The new connection inherits the listener's channel and events; it
        // is recorded nowhere and closes on its own close notification. The
        // peer's address is of no use, and asking for it costs the platform
        // a round trip of its own.
        accept(s, nullptr, nullptr);
        break;
    case FD_CLOSE:
        HandleClose(run, s, lParam);
        break;
    default:
        break;
    }
}

void HandleDatagramEvent(NotificationRun& run, SOCKET s) {
    AppendReceived(run, s, SocketKind::kUdpListener, false);
}

void HandleNotification(NotificationRun& run, UINT message, SOCKET s, LPARAM lParam) {
    if (run.closed.Judge(message, s, lParam) != Notice::kLive) {
        return;
    }
    // Whatever ran since the last notification may have changed the box.
    run.log.Forget();
    if (message == WM_SOCKET_DATAGRAM) {
        HandleDatagramEvent(run, s);
    } else {
        HandleStreamEvent(run, s, WSAGETSELECTEVENT(lParam), lParam);
    }
}

// The window's messages, one by one, as its own loop would take them, until
// the queue has been quiet for a few milliseconds and nothing the run closed
// is still queued. Notifications are handled here; input goes first whenever
// it waits (the window system hands posted messages out before input, and
// under a flood a notification always waits), and anything else is handled
// as the dialog's loop does.
void RunNotifications(NotificationRun& run) {
    HWND wnd = run.wnd;
    QuietTimer quiet(wnd);
    ULONGLONG start = GetTickCount64();
    ULONGLONG inputCheck = start;
    ULONGLONG inputInterval = 0;  // the first look comes at once
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now - inputCheck >= inputInterval) {
            inputCheck = now;
            inputInterval = kInputMilliseconds;
            if (InputWaiting() && InputIsTheDialogs(wnd)) {
                run.log.Flush();
                HandleWaitingInput(wnd, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM, kInputPerPause);
                if (!DialogRunning(wnd)) {
                    return;  // ended: what is still queued is no one's business
                }
                inputCheck = GetTickCount64();
                inputInterval = kInputFollowUpMilliseconds;
            }
        }
        if (now - start >= kRunMilliseconds || !quiet) {
            run.finishing = true;
        }
        if (run.finishing || run.closed.NearlyFull()) {
            if (run.closed.Empty()) {
                return;
            }
            run.closed.PostFence();
        }
        MSG msg;
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // the dialog's loop ends on it
            return;
        }
        if (got < 0) {
            return;
        }
        if (msg.hwnd == wnd && (msg.message == WM_SOCKET_STREAM || msg.message == WM_SOCKET_DATAGRAM)) {
            HandleNotification(run, msg.message, static_cast<SOCKET>(msg.wParam), msg.lParam);
            continue;
        }
        if (msg.hwnd == wnd && msg.message == WM_TIMER && msg.wParam == kQuietTimer) {
            // The window system hands a timer out only when no posted message
            // waits: nothing queued can name a socket the run closed.
            run.closed.SeeThroughAll();
            return;
        }
        run.log.Flush();
        if (!IsDialogMessageW(wnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!DialogRunning(wnd)) {
            return;
        }
    }
}

// Closes the socket now within the run; when the run's list is full, first
// sees what is queued through until a fence frees some of it, and when nothing
// is queued any more, nothing can reach a newer socket: it is simply closed.
void CloseNow(NotificationRun& run, SOCKET s) {
    NoteFlooding(run, s, false);
    while (!run.closed.CloseNow(s)) {
        MSG msg;
        if (!PeekMessageW(&msg, run.wnd, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM, PM_REMOVE)) {
            WSAAsyncSelect(s, run.wnd, 0, 0);
            closesocket(s);
            return;
        }
        HandleNotification(run, msg.message, static_cast<SOCKET>(msg.wParam), msg.lParam);
    }
}

}  // namespace

void HandleSocketNotifications(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (NotificationRun* active = ActiveRun(wnd)) {
        // Arrived inside a run: sent from another thread, or dispatched by a
        // loop the window system runs on input the run handed it (a menu,
        // moving the window). The run handles it in its place, so that its
        // record of closed sockets sees every notification.
        HandleNotification(*active, message, static_cast<SOCKET>(wParam), lParam);
        active->log.Flush();
        return;
    }
    NotificationRun run(wnd);
    ActiveRunScope scope(run);
    HandleNotification(run, message, static_cast<SOCKET>(wParam), lParam);
    RunNotifications(run);
}

void CloseNotifiedSocket(HWND wnd, SOCKET s) {
    if (!DialogRunning(wnd)) {
        // The window is ending: nothing queued will be handled.
        WSAAsyncSelect(s, wnd, 0, 0);
        closesocket(s);
        return;
    }
    if (NotificationRun* active = ActiveRun(wnd)) {
        CloseNow(*active, s);
        return;
    }
    // A run of its own, which ends once what is queued for the socket is
    // seen through.
    NotificationRun run(wnd);
    ActiveRunScope scope(run);
    run.finishing = true;
    CloseNow(run, s);
    RunNotifications(run);
}

void ShowReceivedText(HWND wnd) {
    if (NotificationRun* active = ActiveRun(wnd)) {
        active->log.Show();
    }
}

#include "net/notifications.h"

#include "net/read_throttle.h"
#include "net/traffic.h"
#include "platform/text_codec.h"
#include "platform/waiting_input.h"
#include "resources/resource.h"

namespace {

// A flood keeps a socket full, so one notification reads at most this many
// chunks; the platform posts a new read notification for what is left.
const int kChunksPerNotification = 32;
// How often a listener whose accept failed for want of resources tries
// again: the platform posts nothing more for it (Wine), or would post the
// same failure again at once (Windows). Replies that wait for room are tried
// as often.
const UINT kRetryMilliseconds = 100;

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
Received AppendReceived(Traffic& traffic, SOCKET s, SocketKind kind, bool toTheEnd) {
    Received result;
    Drain drain = StartDrain(traffic, s, kind);
    bool room = traffic.log.HasRoom();
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
        NoteChunk(traffic, drain);
        // A full box shows nothing more; the data is still read.
        if (room) {
            traffic.log.AddChunk(chunk, got);
            room = traffic.log.HasRoom();
        }
        if (kind == SocketKind::kConnection && !toTheEnd && got < kChunkBytes) {
            result.end = ReadEnd::kNothingWaiting;
            break;
        }
    }
    EndDrain(traffic, drain);
    if (kind == SocketKind::kUdpListener && room) {
        traffic.log.AddLineBreak();
    }
    return result;
}

// Something waits on the platform: the retry timer runs until nothing does.
void ScheduleRetries(Traffic& traffic) {
    if (!traffic.retryTimer) {
        traffic.retryTimer = SetTimer(traffic.wnd, kRetryTimer, kRetryMilliseconds, nullptr) != 0;
        traffic.retriedAt = GetTickCount64();
    }
}

// Sends the reply text, as it stands now, whoever set it; nothing when it is
// empty. The text the peer caused is in the box before the peer has its answer.
void SendReply(Traffic& traffic, SOCKET s) {
    if (!traffic.replyBox) {
        traffic.replyBox = GetDlgItem(traffic.wnd, IDC_REPLY_TEXT);
    }
    wchar_t reply[1024];
    if (SendMessageW(traffic.replyBox, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(reply)) == 0) {
        return;
    }
    traffic.log.Show();
    AnsiText bytes = ConvertToAnsi(reply, lstrlenW(reply));
    if (bytes.block && traffic.outboxes.Send(s, bytes.block.Narrow(), bytes.bytes)) {
        RegisterTrafficSocket(traffic, s, SocketKind::kConnection);  // to hear when room returns
        ScheduleRetries(traffic);
    }
}

// The peer has closed, or the connection has failed: whatever the window
// holds for it goes, and the socket is closed once nothing queued names it.
void CloseConnection(Traffic& traffic, SOCKET s) {
    ForgetThrottledSocket(traffic, s);
    traffic.outboxes.Forget(s);
    traffic.closed.CloseLater(s);
}

bool Ended(ReadEnd end) {
    return end == ReadEnd::kPeerClosed || end == ReadEnd::kFailed;
}

// FD_READ. Every read is answered, whether or not the drain found data; a
// peer that shut down only its sending side still waits for the answer. A
// read that meets the peer's end closes the connection.
void ShowRead(Traffic& traffic, SOCKET s) {
    Received received = AppendReceived(traffic, s, SocketKind::kConnection, false);
    if (received.end == ReadEnd::kNotConnected) {
        return;  // a listener, or no socket: no connection's read
    }
    SendReply(traffic, s);
    if (Ended(received.end)) {
        CloseConnection(traffic, s);
        return;
    }
    KeepInputAhead(traffic, s, SocketKind::kConnection);
}

// FD_CLOSE. The close may be posted while data is still unread, so it is
// shown first, and answered as a read would be. A close notification can
// also name a live connection: when a peer resets before its connection is
// accepted, the platform may drop that connection yet leave its close queued
// for the handle value the next accepted connection gets. Only a receive that
// says the peer closed or failed closes it; one that would block is a live
// connection, and a listener or a handle that is no socket is not this
// close's business. More than one notification reads is read on by the read
// the drain's end asks for, which closes it at the end.
void ShowClose(Traffic& traffic, SOCKET s) {
    Received received = AppendReceived(traffic, s, SocketKind::kConnection, true);
    if (received.any) {
        SendReply(traffic, s);
    }
    if (Ended(received.end)) {
        CloseConnection(traffic, s);
    }
}

// Whether a failed accept leaves the listener waiting for what only time can
// bring back: sockets or buffers to spare. Nothing waiting, or a handle that
// is no listener, is not. Under Wine a listener out of descriptors reports
// an invalid argument, as a socket that does not listen would: the socket
// itself tells them apart.
bool WorthRetrying(SOCKET listener, int error) {
    switch (error) {
    case WSAEWOULDBLOCK:
    case WSAENOTSOCK:
    case WSAEOPNOTSUPP:
        return false;
    case WSAEINVAL: {
        BOOL listening = FALSE;
        int length = sizeof(listening);
        return getsockopt(listener, SOL_SOCKET, SO_ACCEPTCONN, reinterpret_cast<char*>(&listening), &length) == 0 &&
               listening;
    }
    default:
        return true;
    }
}

// Accepts one connection. It inherits the listener's channel and events; it
// is recorded nowhere and closes on its own close notification. The peer's
// address is of no use, and asking for it costs the platform a round trip of
// its own. A failure for want of resources is tried again on the window's
// schedule, the listener's accepts held back meanwhile. True when the
// listener accepted.
bool TryAccept(Traffic& traffic, SOCKET listener) {
    if (accept(listener, nullptr, nullptr) != INVALID_SOCKET) {
        return true;
    }
    if (WorthRetrying(listener, WSAGetLastError()) && !AcceptRetrying(traffic, listener) &&
        traffic.acceptRetries.Append(listener)) {
        RegisterTrafficSocket(traffic, listener, SocketKind::kTcpListener);
        ScheduleRetries(traffic);
    }
    return false;
}

// FD_ACCEPT.
void AcceptConnection(Traffic& traffic, SOCKET listener) {
    if (TryAccept(traffic, listener)) {
        KeepInputAhead(traffic, listener, SocketKind::kTcpListener);
    }
}

// The retry timer, or its time under load, when no timer comes. Each
// listener whose accept failed asks for its accepts again and accepts one;
// from there the platform posts the rest. Replies that wait are sent if the
// platform takes them now.
void RetryWaitingWork(Traffic& traffic) {
    traffic.retriedAt = GetTickCount64();
    for (int i = traffic.acceptRetries.Count() - 1; i >= 0; --i) {
        SOCKET listener = traffic.acceptRetries[i];
        traffic.acceptRetries.RemoveAt(i);
        RegisterTrafficSocket(traffic, listener, SocketKind::kTcpListener);
        TryAccept(traffic, listener);
    }
    traffic.outboxes.SendEveryWaiting();
    if (traffic.acceptRetries.Count() == 0 && !traffic.outboxes.Any() && traffic.retryTimer) {
        KillTimer(traffic.wnd, kRetryTimer);
        traffic.retryTimer = false;
    }
}

// FD_WRITE: room has returned for replies that wait.
void SendWaitingReplies(Traffic& traffic, SOCKET s) {
    if (traffic.outboxes.Waiting(s) && traffic.outboxes.SendWaiting(s)) {
        RegisterTrafficSocket(traffic, s, SocketKind::kConnection);
    }
}

// A UDP listener's read.
void ShowDatagrams(Traffic& traffic, SOCKET s) {
    if (AppendReceived(traffic, s, SocketKind::kUdpListener, false).end != ReadEnd::kNotConnected) {
        KeepInputAhead(traffic, s, SocketKind::kUdpListener);
    }
}

void HandleStreamEvent(Traffic& traffic, SOCKET s, WORD event) {
    switch (event) {
    case FD_READ:
        ShowRead(traffic, s);
        break;
    case FD_ACCEPT:
        AcceptConnection(traffic, s);
        break;
    case FD_CLOSE:
        ShowClose(traffic, s);
        break;
    case FD_WRITE:
        SendWaitingReplies(traffic, s);
        break;
    default:
        break;  // FD_CONNECT never comes for listeners or their connections
    }
}

}  // namespace

void HandleSocketNotification(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Traffic* traffic = TrafficOf(wnd);
    if (!traffic) {
        return;
    }
    SOCKET s = static_cast<SOCKET>(wParam);
    if (traffic->closed.Judge(message, s, lParam) == Notice::kLive) {
        // Whatever ran since the last notification may have changed the box.
        traffic->log.Forget();
        if (message == WM_SOCKET_DATAGRAM) {
            ShowDatagrams(*traffic, s);
        } else {
            HandleStreamEvent(*traffic, s, WSAGETSELECTEVENT(lParam));
        }
    }
    traffic->log.AfterEvent();
    traffic->closed.PostOwedFence();
    if (traffic->retryTimer && GetTickCount64() - traffic->retriedAt >= kRetryMilliseconds) {
        RetryWaitingWork(*traffic);
    }
}

void HandleShowReceived(HWND wnd) {
    if (Traffic* traffic = TrafficOf(wnd)) {
        traffic->log.ShowAndDraw();
    }
}

bool HandleTrafficTimer(HWND wnd, UINT_PTR timer) {
    Traffic* traffic = TrafficOf(wnd);
    if (!traffic) {
        return false;
    }
    switch (timer) {
    case kResumeTimer:
        ResumeBehindInput(*traffic);
        return true;
    case kRetryTimer:
        RetryWaitingWork(*traffic);
        return true;
    case kReceivedDrawTimer:
        traffic->log.DrawOwed();
        return true;
    case kSeeThroughTimer:
        // Handed out only when no posted message waits: nothing queued can
        // name a socket closed here.
        traffic->closed.SeeThroughAll();
        return true;
    default:
        return false;
    }
}

void CloseNotifiedSocket(HWND wnd, SOCKET s) {
    Traffic* traffic = TrafficOf(wnd);
    if (traffic) {
        ForgetThrottledSocket(*traffic, s);
        ForgetAcceptRetry(*traffic, s);
    }
    if (!traffic || !DialogRunning(wnd)) {
        // The window is ending: nothing queued will be handled.
        CancelSocket(wnd, s);
        closesocket(s);
        return;
    }
    traffic->closed.CloseNow(s);
}

void ShowReceivedText(HWND wnd) {
    if (Traffic* traffic = TrafficOf(wnd)) {
        traffic->log.Show();
    }
}

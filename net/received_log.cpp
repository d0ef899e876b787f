#include "net/received_log.h"

#include "platform/controls.h"
#include "resources/resource.h"

namespace {

// A flood keeps a socket full, so one notification reads at most this many
// chunks; the platform posts a new read notification for what is left, and
// clicks get their turn between.
const int kChunksPerNotification = 32;
const int kChunkBytes = 1023;
// What is collected before it goes into the box: a few chunks' worth, so a
// burst that fills the box takes a handful of insertions and little memory.
const int kPendingCharacters = 8 * 1024;

DrainEnd EndOfFailedReceive(int error) {
    switch (error) {
    case WSAEWOULDBLOCK:
        return DrainEnd::kNothingWaiting;
    case WSAENOTCONN:
    case WSAENOTSOCK:
        return DrainEnd::kNotConnected;
    default:
        return DrainEnd::kFailed;
    }
}

// A handle whose notification came from before it was reused is left as
// the platform registered it.
bool SocketTypeIs(SOCKET s, int type) {
    int actual = 0;
    int length = sizeof(actual);
    return getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&actual), &length) == 0 && actual == type;
}

}  // namespace

ReceivedLog::ReceivedLog(HWND wnd) : box_(GetDlgItem(wnd, IDC_RECV_TEXT)) {}

ReceivedLog::~ReceivedLog() {
    Flush();
}

void ReceivedLog::Flush() {
    Show();
    if (suspended_) {
        ResumeRedraw(box_);
        suspended_ = false;
    }
}

// Whether the box can take more than what is collected. Text past its limit
// would be cut by the box anyway, so it is not converted at all; whatever is
// collected while there is room is inserted whole and the box cuts it exactly
// where appending chunk by chunk would.
bool ReceivedLog::HasRoom() const {
    LRESULT length = SendMessageW(box_, WM_GETTEXTLENGTH, 0, 0);
    return SendMessageW(box_, EM_GETLIMITTEXT, 0, 0) > length + used_;
}

DrainResult ReceivedLog::Drain(SOCKET s, bool addLineBreak, const HoldBack* holdBack) {
    DrainResult result;
    bool tried = false;
    bool heldBack = false;
    auto holdBackNow = [&] {
        if (!tried) {
            tried = true;
            heldBack = SocketTypeIs(s, holdBack->type);
        }
        if (heldBack) {
            long others = holdBack->events & ~FD_READ;
            WSAAsyncSelect(s, holdBack->wnd, others ? holdBack->message : 0, others);
        }
    };
    if (holdBack && holdBack->fromStart) {
        holdBackNow();
    }
    bool room = HasRoom();
    char buffer[kChunkBytes + 1];
    wchar_t wide[kChunkBytes + 1];
    for (int chunk = 0; chunk < kChunksPerNotification; ++chunk) {
        int got = recv(s, buffer, kChunkBytes, 0);
        if (got == 0) {
            result.end = DrainEnd::kPeerClosed;  // or an empty datagram
            break;
        }
        if (got == SOCKET_ERROR) {
            result.end = EndOfFailedReceive(WSAGetLastError());
            break;
        }
        result.received = true;
        if (holdBack && chunk == 1) {
            holdBackNow();
        }
        if (!room) {
            continue;  // a full box shows nothing more; the data is still read
        }
        // Shown up to the first zero byte; each chunk is converted on its own,
        // and n bytes never make more than n characters.
        buffer[got] = '\0';
        int n = lstrlenA(buffer);
        int converted = n > 0 ? MultiByteToWideChar(CP_ACP, 0, buffer, n, wide, n) : 0;
        wide[converted] = L'\0';
        Add(wide, converted);
        room = HasRoom();
    }
    if (heldBack) {
        WSAAsyncSelect(s, holdBack->wnd, holdBack->message, holdBack->events);
    }
    // Once per drain, whether or not anything came.
    if (addLineBreak && room) {
        Add(L"\r\n", 2);
    }
    return result;
}

void ReceivedLog::Add(const wchar_t* text, int n) {
    if (n <= 0) {
        return;
    }
    if (!pending_) {
        pending_ = AllocateWideText(kPendingCharacters);
    }
    if (pending_ && used_ + n > kPendingCharacters) {
        Show();
    }
    if (!pending_) {
        Insert(text);  // memory is short: no collecting, each piece goes in by itself
        return;
    }
    CopyMemory(pending_.Wide() + used_, text, static_cast<SIZE_T>(n) * sizeof(wchar_t));
    used_ += n;
}

void ReceivedLog::Show() {
    if (used_ == 0 || !pending_) {
        return;
    }
    pending_.Wide()[used_] = L'\0';
    Insert(pending_.Wide());
}

void ReceivedLog::Insert(const wchar_t* text) {
    if (!suspended_) {
        SuspendRedraw(box_);
        suspended_ = true;
    }
    AppendToTextBox(box_, text);
    used_ = 0;
}

bool AppendReceived(HWND wnd, SOCKET s, bool addLineBreak) {
    ReceivedLog log(wnd);
    return log.Drain(s, addLineBreak).received;
}

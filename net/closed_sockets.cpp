#include "net/closed_sockets.h"

#include "net/channels.h"

namespace {

// A fence is a stream message whose event code is 0, which no notification of
// the platform's has: its number stands where a notification's socket does,
// and this tag where the error code does.
const WORD kFenceTag = 0x4643;
// How long closes wait for the queue to fall quiet before a fence is posted
// for them: a lone exchange is seen through by the timer, with no fence.
const ULONGLONG kQuietMilliseconds = 20;

}  // namespace

void ClosedSockets::Note(SOCKET s) {
    // Nothing more is posted for it from here: every notification it has is
    // already queued, ahead of the fence that is yet to be posted.
    CancelSocket(wnd_, s);
    newest_ = posted_ + 1;
    if (!closed_.Append(Closed{s, newest_, true})) {
        // Memory is short: closed at once, as if no notification were queued.
        closesocket(s);
    }
}

void ClosedSockets::CloseLater(SOCKET s) {
    if (newest_ <= posted_) {
        waitingSince_ = GetTickCount64();  // the first close that no fence covers
    }
    Note(s);
    if (!quietTimer_) {
        quietTimer_ = SetTimer(wnd_, kSeeThroughTimer, USER_TIMER_MINIMUM, nullptr) != 0;
    }
    if (!quietTimer_) {
        waitingSince_ = 0;  // only a fence can see it through
        PostOwedFence();
    }
}

void ClosedSockets::CloseNow(SOCKET s) {
    Note(s);
    int last = closed_.Count() - 1;
    if (last < 0 || closed_[last].socket != s) {
        return;  // closed already
    }
    // Only once a fence stands behind what is queued for it may its value go
    // to another socket; a queue too full to take the fence closes it later.
    if (PostNextFence()) {
        closesocket(s);
        closed_[last].open = false;
    }
}

bool ClosedSockets::PostNextFence() {
    if (!PostMessageW(wnd_, WM_SOCKET_STREAM, static_cast<WPARAM>(posted_ + 1), WSAMAKESELECTREPLY(0, kFenceTag))) {
        return false;
    }
    ++posted_;
    return true;
}

void ClosedSockets::PostOwedFence() {
    // The fence out covers closes made before it was posted; later ones wait
    // for the next, posted when that one is back.
    if (newest_ > posted_ && posted_ == returned_ && GetTickCount64() - waitingSince_ >= kQuietMilliseconds) {
        PostNextFence();
    }
}

void ClosedSockets::SeeThroughAll() {
    if (quietTimer_) {
        KillTimer(wnd_, kSeeThroughTimer);
        quietTimer_ = false;
    }
    for (int i = 0; i < closed_.Count(); ++i) {
        if (closed_[i].open) {
            closesocket(closed_[i].socket);
        }
    }
    closed_.Clear();
    returned_ = posted_;  // a fence still counted out is no longer waited for
    newest_ = posted_;
}

Notice ClosedSockets::Judge(UINT message, SOCKET s, LPARAM lParam) {
    if (WSAGETSELECTEVENT(lParam) == 0) {
        unsigned number = static_cast<unsigned>(s);
        if (message == WM_SOCKET_STREAM && WSAGETSELECTERROR(lParam) == kFenceTag && number > returned_ &&
            number <= posted_) {
            returned_ = number;
            for (int i = closed_.Count() - 1; i >= 0; --i) {
                if (closed_[i].fence <= number) {
                    if (closed_[i].open) {
                        closesocket(closed_[i].socket);
                    }
                    closed_.RemoveAt(i);
                }
            }
            // Closes made since wait for the next fence at once: the queue
            // did not fall quiet while this one went round.
            waitingSince_ = 0;
            PostOwedFence();
        }
        return Notice::kFence;
    }
    for (int i = 0; i < closed_.Count(); ++i) {
        if (closed_[i].socket == s) {
            return Notice::kStale;
        }
    }
    return Notice::kLive;
}

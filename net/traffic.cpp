#include "net/traffic.h"

#include "net/read_throttle.h"

bool CreateTraffic(HWND wnd) {
    Traffic* traffic = new Traffic(wnd);
    if (!traffic) {
        return false;
    }
    SetWindowLongPtrW(wnd, DWLP_USER, reinterpret_cast<LONG_PTR>(traffic));
    return true;
}

Traffic* TrafficOf(HWND wnd) {
    return reinterpret_cast<Traffic*>(GetWindowLongPtrW(wnd, DWLP_USER));
}

void DestroyTraffic(HWND wnd) {
    Traffic* traffic = TrafficOf(wnd);
    if (!traffic) {
        return;
    }
    SetWindowLongPtrW(wnd, DWLP_USER, 0);
    KillTimer(wnd, kResumeTimer);
    KillTimer(wnd, kRetryTimer);
    KillTimer(wnd, kReceivedDrawTimer);
    // Closes what waits for a fence (its timer with it), and frees the
    // replies kept.
    delete traffic;
}

namespace {

int FindAcceptRetry(const Traffic& traffic, SOCKET listener) {
    for (int i = 0; i < traffic.acceptRetries.Count(); ++i) {
        if (traffic.acceptRetries[i] == listener) {
            return i;
        }
    }
    return -1;
}

}  // namespace

bool AcceptRetrying(const Traffic& traffic, SOCKET listener) {
    return FindAcceptRetry(traffic, listener) >= 0;
}

void ForgetAcceptRetry(Traffic& traffic, SOCKET listener) {
    int i = FindAcceptRetry(traffic, listener);
    if (i >= 0) {
        traffic.acceptRetries.RemoveAt(i);
    }
}

void RegisterTrafficSocket(Traffic& traffic, SOCKET s, SocketKind kind) {
    Interest interest;
    interest.incoming = !ReadsHeldBack(traffic, s) && !(kind == SocketKind::kTcpListener && AcceptRetrying(traffic, s));
    interest.writes = kind == SocketKind::kConnection && traffic.outboxes.Waiting(s);
    RegisterSocket(traffic.wnd, s, kind, interest);
}

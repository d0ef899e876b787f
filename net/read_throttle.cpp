#include "net/read_throttle.h"

#include "platform/waiting_input.h"

namespace {

// How often input is looked for while nothing is held back: a look costs a
// call to the window system, and a person does not notice 5 ms.
const ULONGLONG kInputLookMilliseconds = 5;
// The resume timer's period, the shortest the window system keeps.
const UINT kResumeMilliseconds = USER_TIMER_MINIMUM;

int FindHeld(const Traffic& traffic, SOCKET s) {
    for (int i = 0; i < traffic.held.Count(); ++i) {
        if (traffic.held[i].socket == s) {
            return i;
        }
    }
    return -1;
}

void HoldBehindInput(Traffic& traffic, SOCKET s, SocketKind kind) {
    if (FindHeld(traffic, s) >= 0 || !traffic.held.Append(HeldSocket{s, kind})) {
        return;
    }
    RegisterTrafficSocket(traffic, s, kind);
    if (!traffic.resumeTimer) {
        traffic.resumeTimer = SetTimer(traffic.wnd, kResumeTimer, kResumeMilliseconds, nullptr) != 0;
    }
}

int FindFlooding(const Traffic& traffic, SOCKET s) {
    for (int i = 0; i < traffic.flooding.Count(); ++i) {
        if (traffic.flooding[i] == s) {
            return i;
        }
    }
    return -1;
}

void HoldForDrain(Traffic& traffic, Drain& drain) {
    Interest interest;
    interest.incoming = false;
    interest.writes = drain.kind == SocketKind::kConnection && traffic.outboxes.Waiting(drain.socket);
    RegisterSocket(traffic.wnd, drain.socket, drain.kind, interest);
    drain.held = true;
}

}  // namespace

bool ReadsHeldBack(const Traffic& traffic, SOCKET s) {
    return FindHeld(traffic, s) >= 0;
}

Drain StartDrain(Traffic& traffic, SOCKET s, SocketKind kind) {
    Drain drain{s, kind, 0, false};
    if (FindFlooding(traffic, s) >= 0) {
        HoldForDrain(traffic, drain);
    }
    return drain;
}

void NoteChunk(Traffic& traffic, Drain& drain) {
    if (++drain.chunks == 2 && !drain.held) {
        HoldForDrain(traffic, drain);
    }
}

void EndDrain(Traffic& traffic, Drain& drain) {
    int known = FindFlooding(traffic, drain.socket);
    if (drain.chunks >= 2 && known < 0) {
        traffic.flooding.Append(drain.socket);
    } else if (drain.chunks < 2 && known >= 0) {
        traffic.flooding.RemoveAt(known);
    }
    if (drain.held && !ReadsHeldBack(traffic, drain.socket)) {
        RegisterTrafficSocket(traffic, drain.socket, drain.kind);
    }
}

void KeepInputAhead(Traffic& traffic, SOCKET s, SocketKind kind) {
    if (traffic.held.Count() == 0) {
        ULONGLONG now = GetTickCount64();
        if (now - traffic.inputLook < kInputLookMilliseconds) {
            return;
        }
        traffic.inputLook = now;
        if (!InputWaiting()) {
            return;
        }
    } else if (!InputWaiting()) {
        ResumeBehindInput(traffic);
        return;
    }
    HoldBehindInput(traffic, s, kind);
}

void ResumeBehindInput(Traffic& traffic) {
    if (traffic.resumeTimer) {
        KillTimer(traffic.wnd, kResumeTimer);
        traffic.resumeTimer = false;
    }
    // Taken off the record first: registered whole, each may post a read at
    // once, which finds it no longer held.
    while (traffic.held.Count() > 0) {
        HeldSocket held = traffic.held[traffic.held.Count() - 1];
        traffic.held.RemoveAt(traffic.held.Count() - 1);
        RegisterTrafficSocket(traffic, held.socket, held.kind);
    }
}

void ForgetThrottledSocket(Traffic& traffic, SOCKET s) {
    int i = FindHeld(traffic, s);
    if (i >= 0) {
        traffic.held.RemoveAt(i);
    }
    i = FindFlooding(traffic, s);
    if (i >= 0) {
        traffic.flooding.RemoveAt(i);
    }
}

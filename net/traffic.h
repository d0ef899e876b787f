// What the window remembers of its socket traffic between two messages: made
// at WM_INITDIALOG, reached through the window (DWLP_USER), released at
// WM_DESTROY. Every notification is handled to its end by whichever loop
// dispatches it (the dialog's own, a menu's, a move's, a scroll bar's), so
// all that outlives one notification lives here, and only here.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "net/channels.h"
#include "net/closed_sockets.h"
#include "net/outbox.h"
#include "net/received_log.h"
#include "platform/records.h"

// The window's timers for its traffic (the received log has its own).
const UINT_PTR kResumeTimer = 0x5750;       // held-back sockets resume behind input
const UINT_PTR kRetryTimer = 0x5751;   // failed accepts and waiting replies are tried again

struct HeldSocket {
    SOCKET socket;
    SocketKind kind;
};

struct Traffic {
    explicit Traffic(HWND w) : wnd(w), log(w), closed(w) {}
    Traffic(const Traffic&) = delete;
    Traffic& operator=(const Traffic&) = delete;
    // On the process heap; null, with nothing made, when memory is short.
    static void* operator new(size_t bytes) noexcept { return HeapAlloc(GetProcessHeap(), 0, bytes); }
    static void operator delete(void* memory) { HeapFree(GetProcessHeap(), 0, memory); }

    HWND wnd;
    ReceivedLog log;
    ClosedSockets closed;
    Outboxes outboxes;
    // Sockets whose reads (accepts) are held back while a person's input
    // waits, and when input was last looked for.
    Records<HeldSocket> held;
    ULONGLONG inputLook = 0;
    bool resumeTimer = false;
    // Sockets whose last drain met more than one chunk (net/read_throttle.h).
    Records<SOCKET> flooding;
    // Listeners whose accept failed for want of resources.
    Records<SOCKET> acceptRetries;
    // Failed accepts and replies that wait for room are tried again on the
    // window's own schedule (see HandleSocketNotification).
    bool retryTimer = false;
    ULONGLONG retriedAt = 0;  // the last try
    HWND replyBox = nullptr;
};

// False when memory is short: the window cannot run its traffic.
bool CreateTraffic(HWND wnd);
// Null before WM_INITDIALOG made it and after WM_DESTROY released it.
Traffic* TrafficOf(HWND wnd);
void DestroyTraffic(HWND wnd);

// Whether the listener's accept failed and waits to be tried again; the
// listener is removed: it is not tried again.
bool AcceptRetrying(const Traffic& traffic, SOCKET listener);
void ForgetAcceptRetry(Traffic& traffic, SOCKET listener);

// Registers the socket for what the window wants of it now: its reads unless
// they are held back, a listener's accepts unless they wait to be tried
// again, a connection's room to send while replies wait.
void RegisterTrafficSocket(Traffic& traffic, SOCKET s, SocketKind kind);

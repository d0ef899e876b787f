// What happens on each socket notification: reads are shown and, on stream
// connections, answered with the reply text; TCP listeners accept; connections
// the peer closes are closed.
//
// The path from a notification to the box, top to bottom:
//   HandleSocketNotification  drops fences and what was queued for a closed
//                             socket (net/closed_sockets.h), and hands the
//                             rest to one routine an event
//   ShowRead, ShowClose,      one event each, handled to its end
//   AcceptConnection,
//   SendWaitingReplies,
//   ShowDatagrams
//   AppendReceived            moves the socket's bytes into the log
//                             (net/received_log.h), holding its reads back
//                             while it drains (net/read_throttle.h)
//   SendReply                 answers a read; what the platform does not
//                             take now waits (net/outbox.h)
//   HandleShowReceived        the log's own message: the collected text goes
//                             into the box, which is drawn
// All they remember lives with the window (net/traffic.h).
#pragma once

#include <winsock2.h>
#include <windows.h>

// WM_SOCKET_STREAM and WM_SOCKET_DATAGRAM.
void HandleSocketNotification(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);

// WM_SHOW_RECEIVED.
void HandleShowReceived(HWND wnd);

// WM_TIMER: false for a timer that is not the traffic's.
bool HandleTrafficTimer(HWND wnd, UINT_PTR timer);

// Closes a listener, or a socket registered but never used, for a command:
// its port is free at once, and nothing queued for it can reach a newer socket
// that gets its handle value.
void CloseNotifiedSocket(HWND wnd, SOCKET s);

// Before a command acts on the window: the text received so far is in the box.
void ShowReceivedText(HWND wnd);

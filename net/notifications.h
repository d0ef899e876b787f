// What happens on each socket notification: reads are shown and, on stream
// connections, answered with the reply text; TCP listeners accept; connections
// the peer closes are closed.
//
// The path from a notification to the box, top to bottom:
//   HandleSocketNotifications  the window got a notification: a run starts
//   RunNotifications           takes the next messages until the queue is quiet
//   HandleNotification         drops what was queued for a socket the run closed
//   HandleStreamEvent /        one event: AppendReceived moves the socket's
//   HandleDatagramEvent        bytes into the log, SendReply answers a read,
//                              closes go to the run's ClosedSockets
#pragma once

#include <winsock2.h>
#include <windows.h>

// The window's handler for both notification messages. After the one it was
// given, it takes the window's next messages itself, handling notifications
// in queue order, for a few milliseconds at most or until the queue is quiet,
// so that the received text is inserted and drawn once for many of them. A
// person's input, and messages posted to the window, are handled between two
// notifications, at once and then every few milliseconds.
void HandleSocketNotifications(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);

// Closes a listener, or a socket registered but never used, for a command:
// its port is free at once, and nothing queued for it can reach a newer socket
// that gets its handle value.
void CloseNotifiedSocket(HWND wnd, SOCKET s);

// Before a command acts on the window: the text received so far by a run that
// is under way is in the box.
void ShowReceivedText(HWND wnd);

// What happens on each socket notification: reads are shown and, on stream
// connections, answered with the reply text; TCP listeners accept; connections
// the peer closes are closed.
#pragma once

#include <winsock2.h>
#include <windows.h>

// The window's handler for both notification messages. After the one it was
// given it goes on with the notifications queued behind it, in queue order,
// and with those arriving while it works, for a few milliseconds at most:
// the received text is drawn once for all of them instead of once for each.
// A person's mouse and keyboard input waiting is handled between two
// notifications, right after the first and then every few milliseconds, and
// the run goes on with the notifications queued behind it, in their order.
// Any other message waiting ends the run.
void HandleSocketNotifications(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);

// One notification by itself.
void HandleStreamEvent(HWND wnd, SOCKET s, WORD event);
void HandleDatagramEvent(HWND wnd, SOCKET s);

// Sends the reply text, as it stands now, on the socket; nothing when it is empty.
void SendReply(HWND wnd, SOCKET s);

// What happens on each socket notification: reads are shown and, on stream
// connections, answered with the reply text; TCP listeners accept; connections
// the peer closes are closed.
#pragma once

#include <winsock2.h>
#include <windows.h>

void HandleStreamEvent(HWND wnd, SOCKET s, WORD event);
void HandleDatagramEvent(HWND wnd, SOCKET s);

// Sends the reply text, as it stands now, on the socket; nothing when it is empty.
void SendReply(HWND wnd, SOCKET s);

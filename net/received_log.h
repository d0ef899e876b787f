// The received-text box as one running log of everything that arrives on any
// socket: the waiting client, accepted connections and UDP listeners.
#pragma once

#include <winsock2.h>
#include <windows.h>

// Moves everything the socket has waiting into the received-text box, chunk by
// chunk; with addLineBreak, one CR LF follows (datagram listeners). Returns
// true when at least one chunk was received.
bool AppendReceived(HWND wnd, SOCKET s, bool addLineBreak);

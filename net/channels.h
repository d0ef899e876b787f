// The two private window messages on which the socket library posts socket
// notifications to the main window: wParam is the socket, the low word of
// lParam the event code.
//
// They share their numbers with the dialog manager's DM_SETDEFID and
// DM_REPOSITION, so the window procedure must report them handled.
#pragma once

#include <winsock2.h>
#include <windows.h>

// The waiting TCP client, the TCP listeners and the connections accepted from them.
#define WM_SOCKET_STREAM (WM_USER + 1)
// The UDP listeners.
#define WM_SOCKET_DATAGRAM (WM_USER + 2)

// Closes a socket registered on either channel; a notification already queued
// for it is dropped, so it can never act on a newer socket given the same
// handle value.
void CloseChannelSocket(HWND wnd, SOCKET s);

// The client side: sends the text to send to the host and port in the window,
// over a fresh TCP connection or as one UDP datagram.
#pragma once

#include <windows.h>

// useTcp false means UDP, which always closes after sending. A TCP send that
// does not close hands its connection to the stream notifications so that the
// answer shows in the received text.
void SendRequest(HWND wnd, bool useTcp, bool closeAfterSending);

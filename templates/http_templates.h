// Ready-made HTTP messages written into the text boxes: a GET or POST request
// for the client side, an HTTP/1.0 HTML response for the listeners' reply.
#pragma once

#include <windows.h>

// Replaces the text to send by a GET request, or by a POST request carrying
// the previous text as its body.
void InsertHttpRequest(HWND wnd, bool usePost);

// Replaces the reply text by a response carrying it (or a default sentence) as
// its HTML body.
void InsertHtmlReply(HWND wnd);

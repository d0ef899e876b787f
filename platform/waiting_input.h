// A person's mouse and keyboard input, as the socket traffic sees it.
//
// The window system hands a thread its posted messages before its input, and
// socket notifications are posted messages: while a peer keeps a socket busy
// one is always waiting, so a loop that takes the next message never reaches
// a click or a key. The traffic asks here whether input waits, and if so
// holds its sockets back until the input is taken.
#pragma once

#include <windows.h>

// Whether mouse or keyboard input waits in the thread's queue. Asking also
// lets the window system queue input it has received but not yet queued.
bool InputWaiting();

// Whether the dialog is still running: neither destroyed nor ended.
bool DialogRunning(HWND dialog);

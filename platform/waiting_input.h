// A person's mouse and keyboard input, taken while socket work is under way.
//
// The window system hands a thread its posted messages before its input, and
// socket notifications are posted messages: while a peer keeps a socket busy
// one is always waiting, so a loop that takes the next message never reaches
// a click or a key. Under a flood the platform queues many notifications
// ahead of anything else posted, among them what input causes: the close
// box posts the dialog's IDCANCEL. The notification handler asks here,
// between notifications, whether input waits, and if so handles it on the
// spot, with what it posts, as the dialog's own loop would have.
//
// [notificationsFirst, notificationsLast] are the notification messages,
// which stay queued in their order.
#pragma once

#include <windows.h>

// Whether mouse or keyboard input waits in the thread's queue. Asking also
// lets the window system queue input it has received but not yet queued.
// (Other posted messages come in their turn among the notifications; those
// that input causes, such as the close box's IDCANCEL, are taken with it.)
bool InputWaiting();

// Whether the dialog may take the waiting input now. Not while a loop of the
// window system's own owns it: a menu, moving the window, or a scroll bar
// being dragged, whose loop dispatches notifications while it waits for the
// mouse; taking its input away would leave it waiting for a release that
// never comes.
bool InputIsTheDialogs(HWND dialog);

// Takes the waiting input and the other posted messages and handles them as
// the dialog's loop does: through the dialog manager (Tab, arrows, Enter,
// Escape, mnemonics), translated into characters, and dispatched. The
// characters a key makes, and what it posts, are handled before the next
// input. At most `limit` messages; stops when the dialog has ended. Then
// paints what the input changed, since no paint comes while notifications
// keep waiting.
void HandleWaitingInput(HWND dialog, UINT notificationsFirst, UINT notificationsLast, int limit);

// Whether the dialog is still running: neither destroyed nor ended.
bool DialogRunning(HWND dialog);

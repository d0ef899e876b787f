#include "platform/waiting_input.h"

namespace {

bool ScrollBarPressed(HWND wnd, LONG bar) {
    SCROLLBARINFO info{};
    info.cbSize = sizeof(info);
    if (!GetScrollBarInfo(wnd, bar, &info)) {
        return false;
    }
    for (DWORD state : info.rgstate) {
        if (state & STATE_SYSTEM_PRESSED) {
            return true;
        }
    }
    return false;
}

// A posted message outside the notifications: below them, or above. (A
// filter whose bounds are both 0 means every message, so 0 itself is left
// out; nothing posts WM_NULL but to wake a loop.)
bool TakePosted(MSG* msg, UINT first, UINT last, UINT flags) {
    flags |= PM_QS_POSTMESSAGE;
    return (first > 1 && PeekMessageW(msg, nullptr, 1, first - 1, flags)) ||
           (last < 0xFFFFFFFFu && PeekMessageW(msg, nullptr, last + 1, 0xFFFFFFFFu, flags));
}

// What the input just handled posted comes first (the characters
// TranslateMessage made for a key, the close box's IDCANCEL), then the next
// input.
bool TakeInput(MSG* msg, UINT first, UINT last) {
    return TakePosted(msg, first, last, PM_REMOVE) || PeekMessageW(msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT);
}

}  // namespace

bool InputWaiting() {
    // What is in the queue now, input seen but not yet taken included; asking
    // also lets the window system queue input it has received but not yet
    // queued.
    return (HIWORD(GetQueueStatus(QS_INPUT)) & QS_INPUT) != 0;
}

bool InputIsTheDialogs(HWND dialog) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    if (!GetGUIThreadInfo(GetCurrentThreadId(), &gui)) {
        return false;
    }
    if (gui.flags & (GUI_INMENUMODE | GUI_INMOVESIZE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE)) {
        return false;
    }
    if (!gui.hwndCapture) {
        return true;
    }
    // A button being pressed or text being selected holds the mouse too, and
    // needs its release taken like any other input.
    if (gui.hwndCapture != dialog && !IsChild(dialog, gui.hwndCapture)) {
        return false;
    }
    return !ScrollBarPressed(gui.hwndCapture, OBJID_VSCROLL) && !ScrollBarPressed(gui.hwndCapture, OBJID_HSCROLL);
}

void HandleWaitingInput(HWND dialog, UINT notificationsFirst, UINT notificationsLast, int limit) {
    MSG msg;
    for (int taken = 0; taken < limit && DialogRunning(dialog) && TakeInput(&msg, notificationsFirst, notificationsLast);
         ++taken) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // the dialog's loop ends on it
            break;
        }
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (DialogRunning(dialog)) {
        RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
}

bool DialogRunning(HWND dialog) {
    // Ending a modal dialog hides it; its loop ends at its next message.
    return IsWindow(dialog) && IsWindowVisible(dialog);
}

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

// The characters TranslateMessage posted for the key just handled come
// first; the ranges hold no input messages, so none is taken out of turn.
bool TakeInput(MSG* msg) {
    return PeekMessageW(msg, nullptr, WM_CHAR, WM_DEADCHAR, PM_REMOVE) ||
           PeekMessageW(msg, nullptr, WM_SYSCHAR, WM_SYSDEADCHAR, PM_REMOVE) ||
           PeekMessageW(msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT);
}

}  // namespace

bool InputWaiting() {
    // Returns at once; with MWMO_INPUTAVAILABLE, input already seen but not
    // yet taken counts too.
    return MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_INPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
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

void HandleWaitingInput(HWND dialog, int limit) {
    MSG msg;
    for (int taken = 0; taken < limit && DialogRunning(dialog) && TakeInput(&msg); ++taken) {
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

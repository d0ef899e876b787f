// A person's input, through the system's input queue (SendInput), where a
// real click or key waits: behind every posted message, so it shows whether
// the window takes input while notifications keep coming. A message sent to
// the window would be handled at once and prove nothing.
#pragma once

#include <windows.h>

#include <initializer_list>

// Makes the window the one keyboard input goes to, with focus on `control`.
// False when the window system would not make it so.
inline bool FocusForInput(HWND wnd, HWND control) {
    SetForegroundWindow(wnd);
    SetActiveWindow(wnd);
    SetFocus(control);
    return GetForegroundWindow() == wnd && GetFocus() == control;
}

// Presses the keys in order, then releases them in reverse: {VK_MENU, 'P'}
// is Alt+P.
inline void PressKeys(std::initializer_list<WORD> keys) {
    INPUT input[8] = {};
    UINT n = 0;
    for (WORD key : keys) {
        input[n].type = INPUT_KEYBOARD;
        input[n].ki.wVk = key;
        ++n;
    }
    for (auto key = keys.end(); key != keys.begin();) {
        --key;
        input[n].type = INPUT_KEYBOARD;
        input[n].ki.wVk = *key;
        input[n].ki.dwFlags = KEYEVENTF_KEYUP;
        ++n;
    }
    SendInput(n, input, sizeof(INPUT));
}

// A left click in the middle of the control.
inline void ClickControl(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input[3] = {};
    input[0].type = INPUT_MOUSE;
    input[0].mi.dx = ((r.left + r.right) / 2) * 65536 / width;
    input[0].mi.dy = ((r.top + r.bottom) / 2) * 65536 / height;
    input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input[1].type = INPUT_MOUSE;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[2].type = INPUT_MOUSE;
    input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(3, input, sizeof(INPUT));
}

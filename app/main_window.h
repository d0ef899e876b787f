// The main window: the whole user interface and the program's only store of
// state. Its procedure receives every event of the running program, button
// commands and socket notifications alike, and routes each to its handler.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);

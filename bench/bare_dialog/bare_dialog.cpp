// The yardstick for the program's start-up: the least a dialog program can do.
// It shows one small modal dialog from its own template, built with the same
// compiler, options and manifest as wirepad.exe, and ends when it is closed.
// No networking, no satellite probe, no icon. (Built a second time with the
// program's own resources, IDD_MAIN being the same number, it shows the
// program's window with none of the program's code.)
#include <windows.h>
#include <commctrl.h>

#include "bare_dialog/bare_dialog.h"

namespace {

INT_PTR CALLBACK BareDlgProc(HWND wnd, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        EndDialog(wnd, 0);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    InitCommonControls();
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_BARE), nullptr, BareDlgProc, 0);
    ExitProcess(0);
}

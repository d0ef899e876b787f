// bench_edit_costs: what putting received text into Wirepad's received-text
// box costs, insertion by insertion, in Wirepad's own window (its template
// and manifest) with the program's own routines. It tells where the time of a
// request or a datagram goes once the notification path itself is lean: an
// insertion into the box while it is shown, with its drawing suspended for
// that insertion (as the program does), suspending and resuming alone, and
// drawing the box.
//
//   bench_edit_costs [INSERTIONS]     (default 300), prints one line a case
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "platform/controls.h"
#include "resources/resource.h"

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// Milliseconds per round of `step`, over `rounds` rounds, the box emptied first.
template <typename Step>
double Time(HWND box, int rounds, Step step) {
    SendMessageW(box, WM_SETTEXT, 0, 0);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < rounds; ++i) {
        step();
    }
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart) /
           rounds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int rounds = argc > 1 ? _wtoi(argv[1]) : 300;
    if (rounds <= 0) {
        rounds = 300;
    }
    HWND wnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, QuietProc, 0);
    if (!wnd) {
        std::printf("no window: error %lu\n", GetLastError());
        return 1;
    }
    HWND box = GetDlgItem(wnd, IDC_RECV_TEXT);
    const wchar_t* request = L"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    double shown = Time(box, rounds, [&] { AppendToTextBox(box, request); });
    double suspended = Time(box, rounds, [&] {
        SuspendRedraw(box);
        AppendToTextBox(box, request);
        ResumeRedraw(box);
    });
    SuspendRedraw(box);
    double inserting = Time(box, rounds, [&] { AppendToTextBox(box, request); });
    ResumeRedraw(box);
    double toggling = Time(box, rounds, [&] {
        SuspendRedraw(box);
        ResumeRedraw(box);
    });
    double drawing = Time(box, rounds, [&] {
        AppendToTextBox(box, L"x");
        SuspendRedraw(box);
        ResumeRedraw(box);
        DrawNow(box);
    }) - toggling;
    std::printf("insertion into the shown box: %.3f ms\n", shown);
    std::printf("insertion, drawing suspended for it: %.3f ms\n", suspended);
    std::printf("insertion alone, drawing suspended throughout: %.3f ms\n", inserting);
    std::printf("suspending and resuming the drawing: %.3f ms\n", toggling);
    std::printf("drawing the box: %.3f ms\n", drawing);
    DestroyWindow(wnd);
    return 0;
}

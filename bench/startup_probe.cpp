// startup_probe: how long a dialog program takes from process start to its
// window being shown. Usage:
//
//   startup_probe ROUNDS PROGRAM...
//
// Each round starts every PROGRAM once, one at a time, in turn (the order is
// reversed every other round so neither always goes first). For each start it
// takes the time before CreateProcessW, waits until the program first waits
// for input (its dialog loop runs), then looks for a visible dialog window
// (#32770) of that process every millisecond; once found it takes the time
// again, closes the window and waits for the process to end. Every wait is bounded (20 s for the
// window, 10 s for the end). Waiting for input first, rather than asking for
// windows all along, keeps the measuring from slowing the program it measures.
// One line per start on stdout:
//
//   PROGRAM-INDEX ROUND MILLISECONDS EXIT-CODE
//
// Exits 1 if a program failed to start, showed no window or did not end.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK MatchShownDialog(HWND wnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(wnd, &owner);
    wchar_t cls[16] = {};
    if (owner != search->process_id || !IsWindowVisible(wnd) || !GetClassNameW(wnd, cls, 16) ||
        lstrcmpW(cls, L"#32770") != 0) {
        return TRUE;
    }
    search->found = wnd;
    return FALSE;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Starts the program, waits for its window and closes it. Returns false on any
// failure; on success `shown_ms` and `exit_code` hold the results.
bool MeasureOnce(const wchar_t* program, double& shown_ms, DWORD& exit_code) {
    std::wstring command_line = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, shown;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(program, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    WaitForInputIdle(process.hProcess, 20000);
    Search search{process.dwProcessId, nullptr};
    for (;;) {
        EnumWindows(MatchShownDialog, reinterpret_cast<LPARAM>(&search));
        QueryPerformanceCounter(&shown);
        if (search.found || Milliseconds(start, shown, frequency) > 20000.0 ||
            WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
            break;
        }
    }
    bool ok = search.found != nullptr;
    if (ok) {
        shown_ms = Milliseconds(start, shown, frequency);
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
        ok = false;
    }
    exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: startup_probe ROUNDS PROGRAM...\n");
        return 2;
    }
    int rounds = _wtoi(argv[1]);
    int programs = argc - 2;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < programs; ++turn) {
            int index = round % 2 == 0 ? turn : programs - 1 - turn;
            double shown_ms = 0;
            DWORD exit_code = 0;
            if (!MeasureOnce(argv[2 + index], shown_ms, exit_code)) {
                fwprintf(stderr, L"startup_probe: %ls showed no window or did not end\n", argv[2 + index]);
                return 1;
            }
            wprintf(L"%d %d %.3f %lu\n", index, round, shown_ms, exit_code);
            fflush(stdout);
        }
    }
    return 0;
}

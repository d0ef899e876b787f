// wpdrive: drives a running wirepad window from the command line, so that
// scripts on the host (with real peers such as curl or socat) can act as the
// user. Commands run in order; each is a word and its arguments:
//
//   wait MATCH      wait up to 20 s for a main window whose process image path
//                   contains MATCH (any wirepad window when MATCH is "*")
//   set ID TEXT     put TEXT into control ID (as WM_SETTEXT)
//   click ID        click button ID
//   text ID         print the text of control ID, then a line feed
//   list ID         print each row of list box ID on a line
//   escape          press Escape in the host field
//   close           press the close box
//
// Text is printed as UTF-8. Exits 1 when no window was found.
#include <windows.h>

#include <cstdio>
#include <string>

#include "blackbox/harness.h"
#include "resources/resource.h"

namespace {

struct Search {
    std::wstring match;
    HWND found = nullptr;
};

std::wstring Lower(std::wstring s) {
    CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

BOOL CALLBACK MatchWindow(HWND wnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t cls[16] = {};
    GetClassNameW(wnd, cls, 16);
    // Visible only once its initialisation has run.
    if (lstrcmpW(cls, L"#32770") != 0 || !GetDlgItem(wnd, IDC_LISTENERS) || !IsWindowVisible(wnd)) {
        return TRUE;
    }
    if (search->match != L"*") {
        DWORD pid = 0;
        GetWindowThreadProcessId(wnd, &pid);
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        wchar_t image[1024] = {};
        DWORD size = 1024;
        bool ok = process && QueryFullProcessImageNameW(process, 0, image, &size);
        if (process) {
            CloseHandle(process);
        }
        if (!ok || Lower(image).find(Lower(search->match)) == std::wstring::npos) {
            return TRUE;
        }
    }
    search->found = wnd;
    return FALSE;
}

void PrintUtf8(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    fwrite(s.data(), 1, s.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HWND wnd = nullptr;
    auto control = [&](const wchar_t* id) { return GetDlgItem(wnd, _wtoi(id)); };
    for (int i = 1; i < argc; ++i) {
        std::wstring command = argv[i];
        if (command == L"wait" && i + 1 < argc) {
            Search search{argv[++i]};
            for (int tries = 0; tries < 400 && !search.found; ++tries) {
                EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
                if (!search.found) {
                    Sleep(50);  // polling another process's windows: nothing to pump
                }
            }
            wnd = search.found;
            if (!wnd) {
                fprintf(stderr, "wpdrive: no window matches %ls\n", argv[i]);
                return 1;
            }
        } else if (!wnd) {
            fprintf(stderr, "wpdrive: 'wait' must come first\n");
            return 1;
        } else if (command == L"set" && i + 2 < argc) {
            HWND c = control(argv[i + 1]);
            std::wstring text = argv[i + 2];
            i += 2;
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 10000, &ignored);
        } else if (command == L"click" && i + 1 < argc) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(control(argv[++i]), BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &ignored);
        } else if (command == L"text" && i + 1 < argc) {
            PrintUtf8(WindowText(control(argv[++i])));
        } else if (command == L"list" && i + 1 < argc) {
            HWND list = control(argv[++i]);
            LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
            for (LRESULT row = 0; row < count; ++row) {
                wchar_t item[64] = {};
                if (SendMessageW(list, LB_GETTEXTLEN, row, 0) < 64) {
                    SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(item));
                }
                PrintUtf8(item);
            }
        } else if (command == L"escape") {
            PostMessageW(GetDlgItem(wnd, IDC_HOST), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageW(GetDlgItem(wnd, IDC_HOST), WM_KEYUP, VK_ESCAPE, 0xC0010001);
        } else if (command == L"close") {
            PostMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            fprintf(stderr, "wpdrive: cannot read '%ls'\n", argv[i]);
            return 2;
        }
    }
    return 0;
}

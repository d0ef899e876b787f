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
//   serve           read further commands from standard input, one a line,
//                   so that one start of this program serves a whole script
//
// Text is printed as UTF-8. Exits 1 when no window was found.
//
// In serve mode every command gets exactly one line back, and texts travel
// escaped (\\ \r \n \t) so that one line holds any text:
//   set ID ESCAPED  -> "ok"
//   click ID        -> "ok MS" (how long the window took to handle the click),
//                      or "timeout" when it did not answer within 30 s
//   text ID         -> the escaped text
//   len ID          -> the text's length in characters
//   list ID         -> the rows, escaped, joined by an escaped line feed
//   postclick ID BOX -> "ok MS": posts the click into the window's queue, behind
//                      whatever the window has waiting there (as a user's click
//                      would wait), and times it until text box BOX is empty;
//                      "timeout" after 30 s
//   alive           -> "ok" when the window answers within 5 s, else "timeout"
//   select ID ROW   -> "ok": selects row ROW of list box ID
//   rect ID         -> "LEFT TOP RIGHT BOTTOM": where control ID (0: the
//                      window) is on the screen, for input sent at it
//   take ID         -> the escaped text of box ID, which is then cut from the
//                      box's front: text the window appends meanwhile lands
//                      after it and stays for the next take
//   limit ID        -> the text limit of box ID (EM_GETLIMITTEXT)
//   handles         -> how many handles the window's process holds
//   gui             -> "FLAGS MENUS LEFT TOP RIGHT BOTTOM": the GetGUIThreadInfo
//                      flags of the window's thread (GUI_INMOVESIZE 2,
//                      GUI_INMENUMODE 4, GUI_SYSTEMMENUMODE 8,
//                      GUI_POPUPMENUMODE 16), how many menu windows of that
//                      thread are visible, and where the window is on the
//                      screen; asks the window system, not the window, so it
//                      answers whatever loop the window's thread is in
//   style ID        -> the style bits of control ID (0: the window), read from
//                      the window system without asking the window
//   watch ID PREFIX -> "SHOWN_BEFORE SHOWN_AFTER LENGTH HIGHEST": whether box ID
//                      has WS_VISIBLE before and after its text is read, the
//                      text's length, and the highest number that follows
//                      PREFIX in the text (-1 when none does)
//   caption         -> "X Y HIT": a point on the screen in the window's caption
//                      bar, and what WM_NCHITTEST answers there (2: caption)
//   post MSG [W [L]] -> "ok": posts message MSG (decimal) to the window, as a
//                      test cleans up a loop of the window system's own
//                      (WM_CANCELMODE ends a menu, WM_LBUTTONUP a move)
//   escape, close   -> "ok"
// End of input ends the program.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
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

std::string Utf8(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::wstring Escape(const std::wstring& w) {
    std::wstring out;
    for (wchar_t c : w) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        case L'\t': out += L"\\t"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::wstring Unescape(const std::wstring& w) {
    std::wstring out;
    for (size_t i = 0; i < w.size(); ++i) {
        if (w[i] != L'\\' || i + 1 == w.size()) {
            out += w[i];
            continue;
        }
        wchar_t c = w[++i];
        out += c == L'r' ? L'\r' : c == L'n' ? L'\n' : c == L't' ? L'\t' : c;
    }
    return out;
}

void Reply(const std::wstring& line) {
    std::string s = Utf8(line);
    s += '\n';
    fwrite(s.data(), 1, s.size(), stdout);
    fflush(stdout);
}

bool ReadLine(std::string& line) {
    line.clear();
    char chunk[65536];
    while (fgets(chunk, sizeof chunk, stdin)) {
        line += chunk;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
    }
    return !line.empty();
}

struct MenuCount {
    int visible = 0;
};

BOOL CALLBACK CountMenu(HWND wnd, LPARAM param) {
    wchar_t cls[16] = {};
    GetClassNameW(wnd, cls, 16);
    if (lstrcmpW(cls, L"#32768") == 0 && IsWindowVisible(wnd)) {
        ++reinterpret_cast<MenuCount*>(param)->visible;
    }
    return TRUE;
}

bool Shown(HWND wnd) {
    return (GetWindowLongW(wnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

// The highest decimal number right after any occurrence of prefix, or -1.
long long HighestAfter(const std::wstring& text, const std::wstring& prefix) {
    long long highest = -1;
    if (prefix.empty()) {
        return highest;
    }
    for (size_t at = text.find(prefix); at != std::wstring::npos; at = text.find(prefix, at + 1)) {
        size_t i = at + prefix.size();
        long long n = 0;
        bool any = false;
        while (i < text.size() && text[i] >= L'0' && text[i] <= L'9' && n < 1000000000000LL) {
            n = n * 10 + (text[i++] - L'0');
            any = true;
        }
        if (any && n > highest) {
            highest = n;
        }
    }
    return highest;
}

// One command of serve mode; false when the command is not known.
bool Serve(HWND wnd, const std::wstring& command, const std::wstring& rest) {
    int id = _wtoi(rest.c_str());
    HWND c = GetDlgItem(wnd, id);
    DWORD_PTR result = 0;
    if (command == L"set") {
        size_t space = rest.find(L' ');
        std::wstring text = space == std::wstring::npos ? L"" : Unescape(rest.substr(space + 1));
        SendMessageTimeoutW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 30000, &result);
        Reply(L"ok");
    } else if (command == L"click") {
        ULONGLONG start = GetTickCount64();
        bool answered = SendMessageTimeoutW(c, BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &result) != 0;
        Reply(answered ? L"ok " + std::to_wstring(GetTickCount64() - start) : L"timeout");
    } else if (command == L"text") {
        Reply(Escape(WindowText(c)));
    } else if (command == L"len") {
        SendMessageTimeoutW(c, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 30000, &result);
        Reply(std::to_wstring(result));
    } else if (command == L"list") {
        std::wstring rows;
        SendMessageTimeoutW(c, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 30000, &result);
        for (DWORD_PTR row = 0; row < result; ++row) {
            wchar_t item[64] = {};
            DWORD_PTR length = 0;
            SendMessageTimeoutW(c, LB_GETTEXTLEN, row, 0, SMTO_NORMAL, 30000, &length);
            if (length < 64) {
                SendMessageTimeoutW(c, LB_GETTEXT, row, reinterpret_cast<LPARAM>(item), SMTO_NORMAL, 30000, &length);
            }
            rows += (row ? L"\n" : L"") + std::wstring(item);
        }
        Reply(Escape(rows));
    } else if (command == L"postclick") {
        HWND box = GetDlgItem(wnd, _wtoi(rest.substr(rest.find(L' ') + 1).c_str()));
        ULONGLONG start = GetTickCount64();
        PostMessageW(c, BM_CLICK, 0, 0);
        bool emptied = false;
        while (!emptied && GetTickCount64() - start < 30000) {
            emptied = SendMessageTimeoutW(box, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 30000, &result) && result == 0;
            if (!emptied) {
                Sleep(5);  // polling another process's window: nothing to pump
            }
        }
        Reply(emptied ? L"ok " + std::to_wstring(GetTickCount64() - start) : L"timeout");
    } else if (command == L"alive") {
        bool answered = SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
        Reply(answered ? L"ok" : L"timeout");
    } else if (command == L"select") {
        int row = _wtoi(rest.substr(rest.find(L' ') + 1).c_str());
        SendMessageTimeoutW(c, LB_SETCURSEL, static_cast<WPARAM>(row), 0, SMTO_NORMAL, 30000, &result);
        Reply(L"ok");
    } else if (command == L"rect") {
        RECT r{};
        GetWindowRect(id ? c : wnd, &r);
        Reply(std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" " +
              std::to_wstring(r.bottom));
    } else if (command == L"take") {
        // The window may append between two of these messages; its append
        // leaves the caret at the end, so a cut that found its selection gone
        // is made again. A caret at 0 afterwards is the cut's own.
        std::wstring text = WindowText(c);
        for (int tries = 0; tries < 20 && !text.empty(); ++tries) {
            SendMessageTimeoutW(c, EM_SETSEL, 0, static_cast<LPARAM>(text.size()), SMTO_NORMAL, 30000, &result);
            SendMessageTimeoutW(c, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""), SMTO_NORMAL, 30000, &result);
            // Pointers do not cross processes: the selection comes back packed.
            DWORD_PTR selection = 1;
            SendMessageTimeoutW(c, EM_GETSEL, 0, 0, SMTO_NORMAL, 30000, &selection);
            if (selection == 0) {
                break;
            }
            std::wstring now = WindowText(c);
            if (now.compare(0, text.size(), text) != 0) {
                break;  // cut, and more came after it
            }
        }
        Reply(Escape(text));
    } else if (command == L"limit") {
        SendMessageTimeoutW(c, EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL, 30000, &result);
        Reply(std::to_wstring(result));
    } else if (command == L"handles") {
        DWORD pid = 0;
        GetWindowThreadProcessId(wnd, &pid);
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
        DWORD count = 0;
        bool counted = process && GetProcessHandleCount(process, &count);
        if (process) {
            CloseHandle(process);
        }
        Reply(counted ? std::to_wstring(count) : L"unknown");
    } else if (command == L"gui") {
        DWORD thread = GetWindowThreadProcessId(wnd, nullptr);
        GUITHREADINFO gui{};
        gui.cbSize = sizeof(gui);
        MenuCount menus;
        bool known = thread && GetGUIThreadInfo(thread, &gui);
        if (known) {
            EnumThreadWindows(thread, CountMenu, reinterpret_cast<LPARAM>(&menus));
        }
        RECT r{};
        GetWindowRect(wnd, &r);
        Reply(known ? std::to_wstring(gui.flags) + L" " + std::to_wstring(menus.visible) + L" " +
                          std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) +
                          L" " + std::to_wstring(r.bottom)
                    : L"unknown");
    } else if (command == L"style") {
        Reply(std::to_wstring(static_cast<DWORD>(GetWindowLongW(id ? c : wnd, GWL_STYLE))));
    } else if (command == L"watch") {
        size_t space = rest.find(L' ');
        std::wstring prefix = space == std::wstring::npos ? L"" : rest.substr(space + 1);
        bool before = Shown(c);
        std::wstring text = WindowText(c);
        bool after = Shown(c);
        Reply(std::to_wstring(before) + L" " + std::to_wstring(after) + L" " + std::to_wstring(text.size()) + L" " +
              std::to_wstring(HighestAfter(text, prefix)));
    } else if (command == L"caption") {
        // Between the window's top edge and its client area, left of the
        // middle, away from the caption's buttons.
        RECT window{};
        GetWindowRect(wnd, &window);
        POINT client{0, 0};
        ClientToScreen(wnd, &client);
        int x = window.left + (window.right - window.left) * 2 / 5;
        int y = (window.top + client.y) / 2;
        SendMessageTimeoutW(wnd, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_NORMAL, 5000, &result);
        Reply(std::to_wstring(x) + L" " + std::to_wstring(y) + L" " + std::to_wstring(static_cast<LONG_PTR>(result)));
    } else if (command == L"post") {
        const wchar_t* p = rest.c_str();
        wchar_t* end = nullptr;
        UINT message = static_cast<UINT>(wcstoul(p, &end, 10));
        WPARAM w = static_cast<WPARAM>(wcstoull(end, &end, 10));
        LPARAM l = static_cast<LPARAM>(wcstoll(end, &end, 10));
        Reply(PostMessageW(wnd, message, w, l) ? L"ok" : L"failed");
    } else if (command == L"escape") {
        PostMessageW(GetDlgItem(wnd, IDC_HOST), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(GetDlgItem(wnd, IDC_HOST), WM_KEYUP, VK_ESCAPE, 0xC0010001);
        Reply(L"ok");
    } else if (command == L"close") {
        PostMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        Reply(L"ok");
    } else {
        return false;
    }
    return true;
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
        } else if (command == L"serve") {
            std::string line;
            while (ReadLine(line)) {
                std::wstring w = Wide(line);
                size_t space = w.find(L' ');
                std::wstring rest = space == std::wstring::npos ? L"" : w.substr(space + 1);
                if (!Serve(wnd, w.substr(0, space), rest)) {
                    Reply(L"error");
                }
            }
        } else {
            fprintf(stderr, "wpdrive: cannot read '%ls'\n", argv[i]);
            return 2;
        }
    }
    return 0;
}

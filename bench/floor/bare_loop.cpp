// bench_floor: a bare Win32 program that receives as Wirepad receives, with
// nothing around it. A hidden window gets the socket notifications
// (WSAAsyncSelect); a TCP listener on 127.0.0.1 accepts connections, each read
// notification reads 1,023-byte chunks until the socket would block and drops
// them, then sends the reply (when one is given) once; a close notification
// closes the connection. An optional UDP socket counts its datagrams into the
// window's title.
//
//   bench_floor TCP_PORT [UDP_PORT|0] [REPLY] [SECONDS]
//
// REPLY may hold \r, \n, \t and \\ escapes. The program ends after SECONDS
// (default 600) so that a benchmark that loses it never leaves it running.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

const UINT kStreamMessage = WM_APP + 1;
const UINT kDatagramMessage = WM_APP + 2;
const UINT_PTR kLifetimeTimer = 1;

struct Floor {
    std::string reply;
    unsigned long datagrams = 0;
};

std::string Narrow(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    }
    out.resize(out.size() - 1);
    return out;
}

std::string Unescape(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '\\' && i + 1 < in.size()) {
            char e = in[++i];
            c = e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
        out += c;
    }
    return out;
}

// Reads and drops what waits, in the program's chunk size, until it would block.
bool Drain(SOCKET s) {
    char buffer[1024];
    bool any = false;
    for (;;) {
        int got = recv(s, buffer, sizeof(buffer) - 1, 0);
        if (got <= 0) {
            return any;
        }
        any = true;
    }
}

SOCKET Bound(int type, int port) {
    SOCKET s = socket(AF_INET, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return s;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

LRESULT CALLBACK FloorProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* floor = reinterpret_cast<Floor*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    SOCKET s = static_cast<SOCKET>(wParam);
    switch (message) {
    case kStreamMessage:
        switch (WSAGETSELECTEVENT(lParam)) {
        case FD_ACCEPT:
            accept(s, nullptr, nullptr);  // inherits the listener's notifications
            return 0;
        case FD_READ:
            Drain(s);
            if (floor && !floor->reply.empty()) {
                send(s, floor->reply.data(), static_cast<int>(floor->reply.size()), 0);
            }
            return 0;
        case FD_CLOSE:
            if (Drain(s) && floor && !floor->reply.empty()) {
                send(s, floor->reply.data(), static_cast<int>(floor->reply.size()), 0);
            }
            closesocket(s);
            return 0;
        default:
            return 0;
        }
    case kDatagramMessage: {
        char buffer[1024];
        while (recv(s, buffer, sizeof(buffer) - 1, 0) != SOCKET_ERROR) {
            if (floor) {
                ++floor->datagrams;
            }
        }
        if (floor) {
            SetWindowTextW(wnd, std::to_wstring(floor->datagrams).c_str());
        }
        return 0;
    }
    case WM_TIMER:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(wnd, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        return 2;
    }
    int tcpPort = _wtoi(argv[1]);
    int udpPort = argc > 2 ? _wtoi(argv[2]) : 0;
    Floor floor;
    floor.reply = argc > 3 ? Unescape(Narrow(argv[3])) : std::string();
    int seconds = argc > 4 ? _wtoi(argv[4]) : 600;
    LocalFree(argv);

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        return 3;
    }
    WNDCLASSW cls{};
    cls.lpfnWndProc = FloorProc;
    cls.hInstance = instance;
    cls.lpszClassName = L"WirepadBenchFloor";
    RegisterClassW(&cls);
    HWND wnd = CreateWindowW(L"WirepadBenchFloor", L"0", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, instance,
                             nullptr);
    if (!wnd) {
        return 4;
    }
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&floor));

    SOCKET listener = Bound(SOCK_STREAM, tcpPort);
    if (listener == INVALID_SOCKET || listen(listener, SOMAXCONN) != 0 ||
        WSAAsyncSelect(listener, wnd, kStreamMessage, FD_ACCEPT | FD_READ | FD_CLOSE) != 0) {
        return 5;
    }
    SOCKET datagrams = INVALID_SOCKET;
    if (udpPort > 0) {
        datagrams = Bound(SOCK_DGRAM, udpPort);
        if (datagrams == INVALID_SOCKET || WSAAsyncSelect(datagrams, wnd, kDatagramMessage, FD_READ) != 0) {
            return 6;
        }
    }
    SetTimer(wnd, kLifetimeTimer, static_cast<UINT>(seconds > 0 ? seconds : 600) * 1000u, nullptr);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    closesocket(listener);
    if (datagrams != INVALID_SOCKET) {
        closesocket(datagrams);
    }
    DestroyWindow(wnd);
    WSACleanup();
    return 0;
}

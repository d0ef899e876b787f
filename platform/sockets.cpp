#include "platform/sockets.h"

SOCKET OpenSocket(bool useTcp) {
    return useTcp ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
}

sockaddr_in MakeIpv4Address(ULONG address, UINT port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    a.sin_addr.s_addr = address;
    return a;
}

void CloseRegisteredSocket(HWND wnd, SOCKET s, UINT firstMessage, UINT lastMessage) {
    WSAAsyncSelect(s, wnd, 0, 0);
    // A marker behind everything queued so far: the notifications kept are
    // posted again behind it, so the pass ends when the marker comes back and
    // needs no memory of its own. No notification names INVALID_SOCKET.
    const LPARAM kMarker = 0x57504D4B;
    if (PostMessageW(wnd, firstMessage, static_cast<WPARAM>(INVALID_SOCKET), kMarker)) {
        MSG msg;
        // Posted messages only, so no sent message is handled half-way through.
        while (PeekMessageW(&msg, wnd, firstMessage, lastMessage, PM_REMOVE | PM_QS_POSTMESSAGE)) {
            if (msg.wParam == static_cast<WPARAM>(INVALID_SOCKET) && msg.lParam == kMarker) {
                break;
            }
            if (msg.wParam != static_cast<WPARAM>(s)) {
                PostMessageW(wnd, msg.message, msg.wParam, msg.lParam);
            }
        }
    }
    closesocket(s);
}

#include "net/listeners.h"

#include <winsock2.h>

#include "net/channels.h"
#include "net/notifications.h"
#include "platform/controls.h"
#include "platform/sockets.h"
#include "resources/resource.h"

void AddListener(HWND wnd, bool useTcp) {
    UINT port = ReadControlNumber(wnd, IDC_LISTEN_PORT);
    sockaddr_in local = MakeIpv4Address(htonl(INADDR_LOOPBACK), port);
    SOCKET s = OpenSocket(useTcp);
    if (s == INVALID_SOCKET) {
        return;
    }
    // Registered before binding; from here every way out closes it as a
    // registered socket.
    RegisterSocket(wnd, s, useTcp ? SocketKind::kTcpListener : SocketKind::kUdpListener);
    // No address-reuse option: a port this program or another already holds
    // for the same protocol fails here. The platform queues as many waiting
    // connections as it reasonably can: a browser's parallel connections or a
    // load tool's burst must not be refused or reset while the window is busy.
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
        (useTcp && listen(s, SOMAXCONN) != 0)) {
        CloseNotifiedSocket(wnd, s);
        return;
    }
    // The port it listens on, as the platform tells it: the low 16 bits of
    // the value typed, or the free port it picked for 0. At most 17
    // characters ("TCP - " and up to 11 for a number).
    sockaddr_in bound{};
    int length = sizeof(bound);
    int shown = getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) == 0 ? ntohs(bound.sin_port)
                                                                                  : static_cast<int>(port & 0xFFFF);
    wchar_t label[18];
    wsprintfW(label, L"%s - %d", useTcp ? L"TCP" : L"UDP", shown);
    int row = AddListItem(wnd, IDC_LISTENERS, label);
    if (row < 0) {
        CloseNotifiedSocket(wnd, s);  // the list is the only record: unlisted means closed
        return;
    }
    SetListItemData(wnd, IDC_LISTENERS, row, static_cast<LPARAM>(s));
}

void RemoveListeners(HWND wnd, bool all) {
    // Each row leaves the list before its socket is closed: closing may run
    // commands that other threads send, and those find the list as it is.
    // So the rows are read afresh each time, the highest first.
    for (;;) {
        int row = all ? GetListCount(wnd, IDC_LISTENERS) - 1 : GetListSelection(wnd, IDC_LISTENERS);
        if (row < 0) {
            return;
        }
        SOCKET s = static_cast<SOCKET>(GetListItemData(wnd, IDC_LISTENERS, row));
        DeleteListItem(wnd, IDC_LISTENERS, row);
        shutdown(s, SD_BOTH);
        CloseNotifiedSocket(wnd, s);
        if (!all) {
            return;
        }
    }
}

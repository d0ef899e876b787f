#include "net/listeners.h"

#include <winsock2.h>

#include "net/channels.h"
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
    if (useTcp) {
        WSAAsyncSelect(s, wnd, WM_SOCKET_STREAM, FD_READ | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
    } else {
        WSAAsyncSelect(s, wnd, WM_SOCKET_DATAGRAM, FD_READ);
    }
    // No address-reuse option: a port this program or another already holds
    // for the same protocol fails here.
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 || (useTcp && listen(s, 10) != 0)) {
        CloseChannelSocket(wnd, s);
        return;
    }
    // The whole value read, printed signed: at most 17 characters.
    wchar_t label[18];
    wsprintfW(label, L"%s - %d", useTcp ? L"TCP" : L"UDP", static_cast<int>(port));
    int row = AddListItem(wnd, IDC_LISTENERS, label);
    if (row < 0) {
        CloseChannelSocket(wnd, s);  // the list is the only record: unlisted means closed
        return;
    }
    SetListItemData(wnd, IDC_LISTENERS, row, static_cast<LPARAM>(s));
}

void RemoveListeners(HWND wnd, bool all) {
    int first = 0;
    int last = 0;
    if (all) {
        last = GetListCount(wnd, IDC_LISTENERS) - 1;
        if (last < 0) {
            return;
        }
    } else {
        first = last = GetListSelection(wnd, IDC_LISTENERS);
        if (first < 0) {
            return;
        }
    }
    // Highest row first, so no deletion moves a row still to be visited.
    for (int row = last; row >= first; --row) {
        SOCKET s = static_cast<SOCKET>(GetListItemData(wnd, IDC_LISTENERS, row));
        shutdown(s, SD_BOTH);
        CloseChannelSocket(wnd, s);
        DeleteListItem(wnd, IDC_LISTENERS, row);
    }
}

#include "net/notifications.h"

#include "net/channels.h"
#include "net/received_log.h"
#include "platform/controls.h"
#include "platform/text_codec.h"
#include "resources/resource.h"

void HandleStreamEvent(HWND wnd, SOCKET s, WORD event) {
    switch (event) {
    case FD_READ:
        AppendReceived(wnd, s, false);
        SendReply(wnd, s);
        break;
    case FD_ACCEPT: {
        // The new connection inherits the listener's channel and events; it
        // is recorded nowhere and closes on its own close notification.
        sockaddr_in peer{};
        int length = sizeof(peer);
        accept(s, reinterpret_cast<sockaddr*>(&peer), &length);
        break;
    }
    case FD_CLOSE:
        // The close may be posted while data is still unread: show it first,
        // as a read does, but send no reply to a peer that has gone.
        AppendReceived(wnd, s, false);
        CloseChannelSocket(wnd, s);
        break;
    default:
        break;
    }
}

void HandleDatagramEvent(HWND wnd, SOCKET s) {
    AppendReceived(wnd, s, true);
}

void SendReply(HWND wnd, SOCKET s) {
    wchar_t reply[1024];
    if (ReadControlText(wnd, IDC_REPLY_TEXT, reply, 1024) == 0) {
        return;
    }
    AnsiText bytes = ConvertToAnsi(reply, lstrlenW(reply));
    if (bytes.block) {
        send(s, bytes.block.Narrow(), bytes.bytes, 0);
    }
}

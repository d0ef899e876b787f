#include "net/notifications.h"

#include "net/channels.h"
#include "net/received_log.h"
#include "platform/controls.h"
#include "platform/text_codec.h"
#include "resources/resource.h"

namespace {

// A close notification can name a live connection: when a peer resets before
// its connection is accepted, the platform may drop that connection yet leave
// its close notification queued, and the next accepted connection gets the
// same handle value. A connection whose peer has closed or reset reports that
// on a receive; a live one with nothing waiting says it would block.
bool StillConnected(SOCKET s) {
    char byte;
    return recv(s, &byte, 1, MSG_PEEK) == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
}

}  // namespace

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
    case FD_CLOSE: {
        // The close may be posted while data is still unread: show all of it
        // first, as reads do, and answer it as a read would, since a peer that
        // only shut down its sending side still waits for the reply.
        bool drained = false;
        while (AppendReceived(wnd, s, false)) {
            drained = true;
        }
        if (drained) {
            SendReply(wnd, s);
        }
        // Not this connection's close (see StillConnected): keep it.
        if (!StillConnected(s)) {
            CloseChannelSocket(wnd, s);
        }
        break;
    }
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

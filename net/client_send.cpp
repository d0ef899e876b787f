#include "net/client_send.h"

#include <winsock2.h>

#include "net/channels.h"
#include "platform/controls.h"
#include "platform/memory_block.h"
#include "platform/sockets.h"
#include "platform/text_codec.h"
#include "resources/resource.h"

namespace {

// The first IPv4 address of the host as typed (an empty name is this
// computer); false when the name does not resolve or its entry holds none.
bool ResolveHost(HWND wnd, ULONG* address) {
    wchar_t host[1024];
    ReadControlText(wnd, IDC_HOST, host, 1024);
    AnsiText name = ConvertToAnsi(host, lstrlenW(host));
    if (!name.block) {
        return false;
    }
    hostent* entry = gethostbyname(name.block.Narrow());
    if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
        !entry->h_addr_list[0]) {
        return false;
    }
    CopyMemory(address, entry->h_addr_list[0], 4);
    return true;
}

}  // namespace

void SendRequest(HWND wnd, bool useTcp, bool closeAfterSending) {
    OwnedSocket s(OpenSocket(useTcp));
    if (!s) {
        return;
    }
    UINT port = ReadControlNumber(wnd, IDC_PORT);
    ULONG address = 0;
    if (!ResolveHost(wnd, &address)) {
        return;
    }
    sockaddr_in to = MakeIpv4Address(address, port);
    // Blocks the window until the connection is made or fails.
    if (useTcp && connect(s.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != 0) {
        return;
    }
    // Everything that needs memory comes before the received text is emptied,
    // so memory running short leaves the window as it was.
    ZeroedBlock request = AllocateWideText(GetControlTextLength(wnd, IDC_SEND_TEXT));
    if (!request) {
        return;
    }
    ReadControlText(wnd, IDC_SEND_TEXT, request.Wide(), static_cast<int>(request.Bytes() / sizeof(wchar_t)));
    AnsiText bytes = ConvertToAnsi(request.Wide(), lstrlenW(request.Wide()));
    request.Free();
    if (!bytes.block) {
        return;
    }
    ClearControl(wnd, IDC_RECV_TEXT);
    if (useTcp) {
        send(s.Get(), bytes.block.Narrow(), bytes.bytes, 0);
    } else {
        sendto(s.Get(), bytes.block.Narrow(), bytes.bytes, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }
    if (closeAfterSending) {
        shutdown(s.Get(), SD_BOTH);
        return;  // closed by its owner
    }
    // From here the connection belongs to the stream notifications.
    RegisterSocket(wnd, s.Release(), SocketKind::kConnection);
}

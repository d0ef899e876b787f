// The real window with real loopback peers (support/loopback_peers.h).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "support/loopback_peers.h"
#include "support/main_window_fixture.h"

class NetTest : public MainWindowTest {
protected:
    std::wstring Received() const { return Text(IDC_RECV_TEXT); }

    // Pumps until the received text is `expected`; returns whether it became so.
    bool WaitReceived(const std::wstring& expected, DWORD timeoutMs = 5000) const {
        return PumpUntil([&] { return Received() == expected; }, timeoutMs);
    }

    void SetPort(int id, unsigned value) const { SetText(id, std::to_wstring(value)); }

    // Opens a listener through the button on a port the platform picks; the
    // socket is read back from the new row.
    SOCKET AddListenerOnAnyPort(bool tcp) const {
        SetText(IDC_LISTEN_PORT, L"0");
        int before = ListCount();
        Click(tcp ? IDC_ADD_TCP_LISTENER : IDC_ADD_UDP_LISTENER);
        if (ListCount() != before + 1) {
            return INVALID_SOCKET;
        }
        return static_cast<SOCKET>(SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_GETITEMDATA, before, 0));
    }
    int ListCount() const { return static_cast<int>(SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_GETCOUNT, 0, 0)); }
    std::wstring Row(int i) const {
        wchar_t s[64] = {};
        SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_GETTEXT, i, reinterpret_cast<LPARAM>(s));
        return s;
    }

    // A TCP waiting send of `text` to a listening peer; the peer's side of
    // the connection.
    OwnedSocket WaitingSendTo(SOCKET listener, const std::wstring& text) const {
        SetText(IDC_HOST, L"127.0.0.1");
        SetPort(IDC_PORT, PortOf(listener));
        SetText(IDC_SEND_TEXT, text);
        Click(IDC_SEND_TCP_WAIT);
        return AcceptPeer(listener);
    }
};

// Draining sockets into the received-text box: chunks, zero bytes, datagrams.
#include <gtest/gtest.h>

#include "net/channels.h"
#include "net/net_fixture.h"
#include "platform/controls.h"

namespace {

using ReceivedLog = NetTest;

std::wstring WithoutEmptyLines(std::wstring text) {
    for (size_t at; (at = text.find(L"\r\n\r\n")) != std::wstring::npos;) {
        text.erase(at, 2);
    }
    return text;
}

TEST_F(ReceivedLog, StreamBurstsShowBackToBackAndAChunkStopsAtItsFirstZeroByte) {
    OwnedSocket server = BoundPeer(true);
    OwnedSocket peer = WaitingSendTo(server.Get(), L"");
    ASSERT_TRUE(peer);
    LRESULT limit = SendDlgItemMessageW(wnd_, IDC_RECV_TEXT, EM_GETLIMITTEXT, 0, 0);

    std::string burst;
    for (int i = 0; i < 2500; ++i) {
        burst += static_cast<char>('a' + i % 26);
    }
    SendAll(peer.Get(), burst);
    ASSERT_TRUE(WaitReceived(std::wstring(burst.begin(), burst.end()))) << Received().size();

    // Whatever the user selected, text lands at the end.
    SendDlgItemMessageW(wnd_, IDC_RECV_TEXT, EM_SETSEL, 0, 3);
    SendAll(peer.Get(), std::string("ab\0cd", 5));
    EXPECT_TRUE(WaitReceived(std::wstring(burst.begin(), burst.end()) + L"ab"));

    // One send, so both chunks wait at one notification: the first is 1,023
    // bytes, the second starts with a zero byte and shows nothing, and the
    // drain goes on to the third.
    ClearControl(wnd_, IDC_RECV_TEXT);
    SendAll(peer.Get(), std::string(1023, 'x') + std::string("\0hidden", 7));
    PumpFor(200);
    SendAll(peer.Get(), "tail");
    EXPECT_TRUE(WaitReceived(std::wstring(1023, L'x') + L"tail")) << Received().size();
    EXPECT_EQ(SendDlgItemMessageW(wnd_, IDC_RECV_TEXT, EM_GETLIMITTEXT, 0, 0), limit);
}

TEST_F(ReceivedLog, EachDatagramNotificationEndsWithOneLineBreak) {
    SOCKET listener = AddListenerOnAnyPort(false);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), PortOf(listener));
    OwnedSocket peer(OpenSocket(false));
    auto datagram = [&](const std::string& bytes) {
        sendto(peer.Get(), bytes.data(), static_cast<int>(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    };
    // Waiting together: shown one after the other, one CR LF after them all.
    // The empty datagram ends that drain; the one behind it comes with the
    // next notification.
    datagram("one");
    datagram("two");
    datagram("");
    datagram("three");
    // (A read notification that finds nothing adds a line break of its own:
    // the platform may post one more than the drains need.)
    EXPECT_TRUE(PumpUntil([&] { return Received().find(L"three\r\n") != std::wstring::npos; }, 5000));
    EXPECT_EQ(WithoutEmptyLines(Received()), L"onetwo\r\nthree\r\n");

    // A datagram too long for the buffer is dropped, and the drain ends there.
    ClearControl(wnd_, IDC_RECV_TEXT);
    datagram("a");
    datagram(std::string(1024, 'L'));
    PumpFor(100);
    datagram("b");
    EXPECT_TRUE(PumpUntil([&] { return Received().find(L"b\r\n") != std::wstring::npos; }, 5000));
    EXPECT_EQ(WithoutEmptyLines(Received()), L"a\r\nb\r\n");

    // A notification that finds nothing still ends the line.
    ClearControl(wnd_, IDC_RECV_TEXT);
    SendMessageW(wnd_, WM_SOCKET_DATAGRAM, listener, FD_READ);
    EXPECT_EQ(Received(), L"\r\n");
}

}  // namespace

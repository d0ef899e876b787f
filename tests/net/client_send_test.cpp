// Client sends over TCP and UDP, and the reply text sent back on every read
// of a stream connection.
#include <gtest/gtest.h>

#include "net/net_fixture.h"

namespace {

using ClientSend = NetTest;

TEST_F(ClientSend, WaitingTcpSendEmptiesTheLogSendsCrLfAndShowsTheAnswer) {
    SetText(IDC_RECV_TEXT, L"earlier");
    OwnedSocket server = BoundPeer(true);
    OwnedSocket peer = WaitingSendTo(server.Get(), L"GET /\r\nline two");
    ASSERT_TRUE(peer);
    EXPECT_EQ(Received(), L"");
    EXPECT_EQ(ReadPeer(peer.Get(), 15).data, "GET /\r\nline two");
    SendAll(peer.Get(), "answer");
    EXPECT_TRUE(WaitReceived(L"answer"));
    // The peer's close is answered by closing the connection.
    shutdown(peer.Get(), SD_SEND);
    EXPECT_TRUE(ReadPeer(peer.Get(), 1).closed);
}

TEST_F(ClientSend, NoWaitAndUdpSendsShowNothingBack) {
    OwnedSocket server = BoundPeer(true);
    SetText(IDC_HOST, L"127.0.0.1");
    SetPort(IDC_PORT, PortOf(server.Get()));
    SetText(IDC_SEND_TEXT, L"ping");
    SetText(IDC_RECV_TEXT, L"earlier");
    Click(IDC_SEND_TCP_NOWAIT);
    OwnedSocket peer = AcceptPeer(server.Get());
    ASSERT_TRUE(peer);
    PeerRead got = ReadPeer(peer.Get(), 100);
    EXPECT_EQ(got.data, "ping");
    EXPECT_TRUE(got.closed);
    EXPECT_EQ(Received(), L"");

    // UDP: one datagram; only the low 16 bits of the port count.
    OwnedSocket udp = BoundPeer(false);
    SetPort(IDC_PORT, 65536u * 3 + PortOf(udp.Get()));
    SetText(IDC_RECV_TEXT, L"earlier");
    Click(IDC_SEND_UDP);
    EXPECT_EQ(ReadPeer(udp.Get(), 4).data, "ping");
    EXPECT_EQ(Received(), L"");
    // Empty text: an empty datagram still goes.
    SetText(IDC_SEND_TEXT, L"");
    Click(IDC_SEND_UDP);
    ASSERT_TRUE(PumpUntil([&] { return Readable(udp.Get()); }, 5000));
    char byte = 0;
    EXPECT_EQ(recv(udp.Get(), &byte, 1, 0), 0);
}

TEST_F(ClientSend, FailedSendsLeaveTheReceivedTextAsItWas) {
    SetText(IDC_HOST, L"127.0.0.1");
    SetText(IDC_SEND_TEXT, L"x");
    SetText(IDC_RECV_TEXT, L"keep");
    SetText(IDC_PORT, L"");  // port 0: no connection
    Click(IDC_SEND_TCP_WAIT);
    EXPECT_EQ(Received(), L"keep");
    SetPort(IDC_PORT, FreePort());  // nobody listening
    Click(IDC_SEND_TCP_NOWAIT);
    EXPECT_EQ(Received(), L"keep");
    SetText(IDC_HOST, L"a..b");  // fails in the resolver itself: no name-server query
    Click(IDC_SEND_UDP);
    EXPECT_EQ(Received(), L"keep");
}

TEST_F(ClientSend, EveryReadIsAnsweredWithTheReplyTextAsItStandsThen) {
    OwnedSocket server = BoundPeer(true);
    OwnedSocket peer = WaitingSendTo(server.Get(), L"");
    ASSERT_TRUE(peer);
    // Empty reply box: only shown.
    SendAll(peer.Get(), "a");
    ASSERT_TRUE(WaitReceived(L"a"));
    EXPECT_EQ(ReadPeer(peer.Get(), 1, 200).data, "");

    SetText(IDC_REPLY_TEXT, L"first");
    SendAll(peer.Get(), "b");
    ASSERT_TRUE(WaitReceived(L"ab"));
    EXPECT_EQ(ReadPeer(peer.Get(), 100, 200).data, "first");
    SetText(IDC_REPLY_TEXT, L"second\r\n");
    SendAll(peer.Get(), "c");
    ASSERT_TRUE(WaitReceived(L"abc"));
    EXPECT_EQ(ReadPeer(peer.Get(), 100, 200).data, "second\r\n");

    // Cut to its first 1,023 characters.
    SetText(IDC_REPLY_TEXT, std::wstring(1500, L'z'));
    SendAll(peer.Get(), "d");
    EXPECT_EQ(ReadPeer(peer.Get(), 2000, 300).data, std::string(1023, 'z'));
}

}  // namespace

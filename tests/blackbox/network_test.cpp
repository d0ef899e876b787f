// The real wirepad.exe on the network, driven from this process as a user
// would, with this process's own loopback peers at the other end.
#include <gtest/gtest.h>

#include "blackbox/harness.h"
#include "resources/resource.h"
#include "support/loopback_peers.h"

namespace {

class BlackboxNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app_.Start());
        ASSERT_NE(app_.WaitForWindow(), nullptr);
        // Found as soon as it exists; shown once initialised (ports set to 80).
        ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(app_.Window()) != FALSE; }, 10000));
    }
    bool WaitText(int id, const std::wstring& expected) {
        return PumpUntil([&] { return app_.Text(id) == expected; }, 5000);
    }
    void Select(int row) const {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(app_.Control(IDC_LISTENERS), LB_SETCURSEL, row, 0, SMTO_NORMAL, 10000, &ignored);
    }
    WirepadProcess app_;
};

TEST_F(BlackboxNetwork, ListenersServeLocalClientsUntilRemoved) {
    u_short tcpPort = FreePort();
    u_short udpPort = PortOf(BoundPeer(false).Get());
    app_.SetText(IDC_REPLY_TEXT, L"OK\r\n");
    app_.SetText(IDC_LISTEN_PORT, std::to_wstring(tcpPort));
    app_.Click(IDC_ADD_TCP_LISTENER);
    app_.SetText(IDC_LISTEN_PORT, std::to_wstring(udpPort));
    app_.Click(IDC_ADD_UDP_LISTENER);
    ASSERT_EQ(app_.ListItems(IDC_LISTENERS),
              (std::vector<std::wstring>{L"TCP - " + std::to_wstring(tcpPort), L"UDP - " + std::to_wstring(udpPort)}));

    // A client that sends its request in pieces gets the reply to each.
    OwnedSocket client = ConnectPeer(tcpPort);
    ASSERT_TRUE(client);
    std::wstring shown;
    for (const char* piece : {"GET / HTTP/1.0\r\n", "Host: x\r\n", "\r\n"}) {
        SendAll(client.Get(), piece);
        shown += std::wstring(piece, piece + strlen(piece));
        EXPECT_EQ(ReadPeer(client.Get(), 4).data, "OK\r\n");
        EXPECT_TRUE(WaitText(IDC_RECV_TEXT, shown));
    }

    // Datagrams, each notification's followed by a line break.
    OwnedSocket udp(OpenSocket(false));
    sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), udpPort);
    sendto(udp.Get(), "ping", 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    EXPECT_TRUE(WaitText(IDC_RECV_TEXT, shown + L"ping\r\n"));

    Select(0);
    app_.Click(IDC_REMOVE_LISTENER);
    EXPECT_EQ(app_.ListItems(IDC_LISTENERS), std::vector<std::wstring>{L"UDP - " + std::to_wstring(udpPort)});
    EXPECT_TRUE(PortFree(true, tcpPort));
    EXPECT_FALSE(PortFree(false, udpPort));
    app_.Click(IDC_REMOVE_ALL_LISTENERS);
    EXPECT_TRUE(app_.ListItems(IDC_LISTENERS).empty());
    EXPECT_TRUE(PortFree(false, udpPort));
    app_.PressEscape();
    EXPECT_EQ(app_.WaitExit(), 0);
}

TEST_F(BlackboxNetwork, OnlyTheWaitingSendShowsTheAnswerAndClosingFreesEveryPort) {
    OwnedSocket server = BoundPeer(true);
    app_.SetText(IDC_HOST, L"127.0.0.1");
    app_.SetText(IDC_PORT, std::to_wstring(PortOf(server.Get())));
    app_.SetText(IDC_SEND_TEXT, L"hello");
    app_.Click(IDC_SEND_TCP_WAIT);
    OwnedSocket waiting = AcceptPeer(server.Get());
    ASSERT_TRUE(waiting);
    EXPECT_EQ(ReadPeer(waiting.Get(), 5).data, "hello");
    SendAll(waiting.Get(), "world");
    EXPECT_TRUE(WaitText(IDC_RECV_TEXT, L"world"));

    app_.Click(IDC_SEND_TCP_NOWAIT);
    OwnedSocket closing = AcceptPeer(server.Get());
    ASSERT_TRUE(closing);
    EXPECT_EQ(ReadPeer(closing.Get(), 5).data, "hello");
    SendAll(closing.Get(), "unseen");
    OwnedSocket udp = BoundPeer(false);
    app_.SetText(IDC_PORT, std::to_wstring(PortOf(udp.Get())));
    app_.Click(IDC_SEND_UDP);
    EXPECT_EQ(ReadPeer(udp.Get(), 5).data, "hello");
    PumpFor(300);
    EXPECT_EQ(app_.Text(IDC_RECV_TEXT), L"");

    u_short port = FreePort();
    app_.SetText(IDC_LISTEN_PORT, std::to_wstring(port));
    app_.Click(IDC_ADD_TCP_LISTENER);
    app_.Click(IDC_ADD_UDP_LISTENER);
    ASSERT_EQ(app_.ListItems(IDC_LISTENERS).size(), 2u);
    app_.PressCloseBox();
    EXPECT_EQ(app_.WaitExit(), 0);
    EXPECT_TRUE(PortFree(true, port));
    EXPECT_TRUE(PortFree(false, port));
}

}  // namespace

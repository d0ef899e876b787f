// Listeners on 127.0.0.1: rows, ports, removal, the window's end; and how
// closing a registered socket keeps queued notifications off newer sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <thread>

#include "net/channels.h"
#include "net/net_fixture.h"
#include "net/outbox.h"
#include "net/notifications.h"
#include "support/real_input.h"

namespace {

using Listeners = NetTest;

std::wstring WithoutEmptyLines(std::wstring text) {
    for (size_t at; (at = text.find(L"\r\n\r\n")) != std::wstring::npos;) {
        text.erase(at, 2);
    }
    return text;
}

TEST_F(Listeners, RowsShowThePortBoundWhichIsTheLowBitsOfTheValueOrAFreeOneForZero) {
    u_short port = FreePort();
    SetPort(IDC_LISTEN_PORT, port);
    Click(IDC_ADD_TCP_LISTENER);
    Click(IDC_ADD_TCP_LISTENER);  // same protocol, same port: refused
    Click(IDC_ADD_UDP_LISTENER);  // the other protocol on that port: fine
    SetPort(IDC_LISTEN_PORT, 65536u * 40000 + port);
    Click(IDC_ADD_UDP_LISTENER);  // the low bits name the UDP port just taken
    u_short other = FreePort();
    SetPort(IDC_LISTEN_PORT, 65536u * 40000 + other);  // beyond the signed range
    Click(IDC_ADD_UDP_LISTENER);
    SetText(IDC_LISTEN_PORT, L"");
    Click(IDC_ADD_TCP_LISTENER);
    ASSERT_EQ(ListCount(), 4);
    EXPECT_EQ(Row(0), L"TCP - " + std::to_wstring(port));
    EXPECT_EQ(Row(1), L"UDP - " + std::to_wstring(port));
    EXPECT_EQ(Row(2), L"UDP - " + std::to_wstring(other));
    EXPECT_FALSE(PortFree(false, other));
    // An empty field asks for any free port: the row names the one taken.
    SOCKET any = static_cast<SOCKET>(SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_GETITEMDATA, 3, 0));
    EXPECT_NE(PortOf(any), 0);
    EXPECT_EQ(Row(3), L"TCP - " + std::to_wstring(PortOf(any)));
}

TEST_F(Listeners, TcpClientsAreShownAndAnsweredAndOutliveTheirListener) {
    SOCKET listener = AddListenerOnAnyPort(true);
    ASSERT_NE(listener, INVALID_SOCKET);
    u_short port = PortOf(listener);
    SetText(IDC_REPLY_TEXT, L"HTTP/1.0 200 OK\r\n");
    OwnedSocket client = ConnectPeer(port);
    ASSERT_TRUE(client);
    // A request in three pieces, each at its own notification: three replies.
    std::string replies;
    for (const char* piece : {"GET / ", "HTTP/1.0\r\n", "\r\n"}) {
        SendAll(client.Get(), piece);
        replies += ReadPeer(client.Get(), 17).data;
    }
    EXPECT_EQ(Received(), L"GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(replies, "HTTP/1.0 200 OK\r\nHTTP/1.0 200 OK\r\nHTTP/1.0 200 OK\r\n");

    SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_SETCURSEL, 0, 0);
    Click(IDC_REMOVE_LISTENER);
    EXPECT_EQ(ListCount(), 0);
    EXPECT_TRUE(PortFree(true, port));
    SendAll(client.Get(), "more");
    EXPECT_TRUE(WaitReceived(L"GET / HTTP/1.0\r\n\r\nmore"));
    EXPECT_EQ(ReadPeer(client.Get(), 17).data, "HTTP/1.0 200 OK\r\n");
}

// A peer that keeps asking and never reads fills what the platform buffers
// for it: replies the platform will not take wait, up to a bound, and past
// it are dropped whole, so what the peer reads at last is whole replies only.
// Meanwhile another connection's requests are answered as at any time.
TEST_F(Listeners, APeerThatNeverReadsGetsWholeRepliesOnlyAndStarvesNoOtherConnection) {
    std::string reply = "<" + std::string(998, 'x') + ">";
    SetText(IDC_REPLY_TEXT, std::wstring(reply.begin(), reply.end()));
    // The greedy peer's connection, small buffers on both sides so that they
    // fill within a few dozen replies; registered as a waiting client's.
    OwnedSocket server = BoundPeer(true);
    OwnedSocket mine(OpenSocket(true));
    sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), PortOf(server.Get()));
    ASSERT_EQ(connect(mine.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof(to)), 0);
    OwnedSocket greedy = AcceptPeer(server.Get());
    ASSERT_TRUE(greedy);
    WSAAsyncSelect(mine.Release(), wnd_, WM_SOCKET_STREAM, FD_READ | FD_CLOSE);
    SOCKET listener = AddListenerOnAnyPort(true);
    ASSERT_NE(listener, INVALID_SOCKET);
    OwnedSocket other = ConnectPeer(PortOf(listener));
    ASSERT_TRUE(other);

    std::atomic<bool> asking{true};
    std::thread greed([&] {
        DWORD patience = 100;
        setsockopt(greedy.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&patience), sizeof(patience));
        for (ULONGLONG end = GetTickCount64() + 10000; asking && GetTickCount64() < end;) {
            SendAll(greedy.Get(), "more?");
            Sleep(0);
        }
    });
    ULONGLONG slowest = 0;
    int answered = 0;
    for (ULONGLONG end = GetTickCount64() + 1500; GetTickCount64() < end;) {
        ULONGLONG asked = GetTickCount64();
        SendAll(other.Get(), "GET /");
        answered += ReadPeer(other.Get(), reply.size(), 3000).data == reply ? 1 : 0;
        slowest = GetTickCount64() - asked > slowest ? GetTickCount64() - asked : slowest;
    }
    asking = false;
    greed.join();
    EXPECT_GT(answered, 10);
    EXPECT_LT(slowest, 500u) << "the other connection waited behind the greedy one";

    // Now it reads: everything waiting comes, in whole replies.
    PeerRead got = ReadPeer(greedy.Get(), 4 * 1024 * 1024, 1500);
    ASSERT_GT(got.data.size(), 0u);
    EXPECT_EQ(got.data.size() % reply.size(), 0u) << got.data.size() << " bytes: a reply was cut";
    bool whole = true;
    for (size_t at = 0; whole && at + reply.size() <= got.data.size(); at += reply.size()) {
        whole = got.data.compare(at, reply.size(), reply) == 0;
    }
    EXPECT_TRUE(whole);
}

// Replies the platform will not take now wait, behind one another, up to the
// bound, and past it are dropped whole; once the peer reads, what waited goes
// out as room returns, and the peer has whole replies only.
TEST_F(Listeners, RepliesThePlatformWillNotTakeWaitUpToTheBoundAndGoWholeWhenThereIsRoom) {
    OwnedSocket server = BoundPeer(true);
    OwnedSocket mine = ConnectPeer(PortOf(server.Get()));
    OwnedSocket peer = AcceptPeer(server.Get());
    ASSERT_TRUE(mine && peer);
    u_long nonBlocking = 1;
    ioctlsocket(mine.Get(), FIONBIO, &nonBlocking);
    std::string reply = "<" + std::string(997, 'y') + ">";
    Outboxes outboxes;
    int taken = 0;
    for (; taken < 20000 && !outboxes.Waiting(mine.Get()); ++taken) {
        outboxes.Send(mine.Get(), reply.data(), static_cast<int>(reply.size()));
    }
    ASSERT_TRUE(outboxes.Waiting(mine.Get())) << "the platform took " << taken << " replies and never refused one";
    // Far past the bound: the later ones are dropped whole.
    for (int i = 0; i < 2 * kOutboxBytes / static_cast<int>(reply.size()); ++i) {
        outboxes.Send(mine.Get(), reply.data(), static_cast<int>(reply.size()));
    }
    std::string got;
    char chunk[65536];
    for (ULONGLONG end = GetTickCount64() + 20000; GetTickCount64() < end;) {
        bool waiting = outboxes.Waiting(mine.Get()) && !outboxes.SendWaiting(mine.Get());
        int n = Readable(peer.Get()) ? recv(peer.Get(), chunk, sizeof(chunk), 0) : 0;
        if (n > 0) {
            got.append(chunk, static_cast<size_t>(n));
        } else if (!waiting) {
            break;
        }
    }
    EXPECT_FALSE(outboxes.Waiting(mine.Get()));
    EXPECT_EQ(got.size() % reply.size(), 0u) << got.size() << " bytes: a reply was cut";
    size_t replies = got.size() / reply.size();
    EXPECT_GE(replies, static_cast<size_t>(taken));  // what waited went out too
    EXPECT_LE(replies, static_cast<size_t>(taken) + kOutboxBytes / reply.size() + 1);
    bool whole = true;
    for (size_t at = 0; whole && at + reply.size() <= got.size(); at += reply.size()) {
        whole = got.compare(at, reply.size(), reply) == 0;
    }
    EXPECT_TRUE(whole);
}

TEST_F(Listeners, RemoveTakesTheSelectedRowOrAllAndTheWindowsEndFreesEveryPort) {
    SOCKET s[3];
    u_short ports[3];
    for (int i = 0; i < 3; ++i) {
        s[i] = AddListenerOnAnyPort(i != 1);
        ASSERT_NE(s[i], INVALID_SOCKET);
        ports[i] = PortOf(s[i]);
    }
    Click(IDC_REMOVE_LISTENER);  // nothing selected
    EXPECT_EQ(ListCount(), 3);
    SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_SETCURSEL, 1, 0);
    Click(IDC_REMOVE_LISTENER);
    ASSERT_EQ(ListCount(), 2);
    EXPECT_TRUE(PortFree(false, ports[1]));
    EXPECT_FALSE(PortFree(true, ports[2]));
    EXPECT_EQ(static_cast<SOCKET>(SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_GETITEMDATA, 1, 0)), s[2]);
    Click(IDC_REMOVE_ALL_LISTENERS);
    EXPECT_EQ(ListCount(), 0);
    EXPECT_TRUE(PortFree(true, ports[0]));
    EXPECT_TRUE(PortFree(true, ports[2]));

    SOCKET tcp = AddListenerOnAnyPort(true);
    SOCKET udp = AddListenerOnAnyPort(false);
    ASSERT_TRUE(tcp != INVALID_SOCKET && udp != INVALID_SOCKET);
    u_short tcpPort = PortOf(tcp);
    u_short udpPort = PortOf(udp);
    DestroyWindow(wnd_);
    EXPECT_TRUE(PortFree(true, tcpPort));
    EXPECT_TRUE(PortFree(false, udpPort));
}

// A list box that has no room: LB_ADDSTRING fails.
LRESULT CALLBACK FullList(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == LB_ADDSTRING) {
        return LB_ERRSPACE;
    }
    return CallWindowProcW(reinterpret_cast<WNDPROC>(GetPropW(list, L"wp.old")), list, message, wParam, lParam);
}

TEST_F(Listeners, AListenerTheListCannotTakeIsClosedAndTheListStaysAsItWas) {
    HWND list = Control(IDC_LISTENERS);
    SetPropW(list, L"wp.old", reinterpret_cast<HANDLE>(GetWindowLongPtrW(list, GWLP_WNDPROC)));
    SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FullList));
    u_short port = FreePort();
    SetPort(IDC_LISTEN_PORT, port);
    Click(IDC_ADD_TCP_LISTENER);
    EXPECT_EQ(ListCount(), 0);
    EXPECT_TRUE(PortFree(true, port));
    SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GetPropW(list, L"wp.old")));
    RemovePropW(list, L"wp.old");
}

// Whether a notification for `s` waits in the window's queue.
// The notifications a test posts carry this in the error word, which the
// program ignores, so the test can tell them from the platform's own.
const WORD kTestTag = 0x7E57;
LPARAM Tagged(WORD event) {
    return WSAMAKESELECTREPLY(event, kTestTag);
}

// Whether a notification the test posted for the socket is still queued. The
// platform's own notifications for it are dropped: under Wine its notifier
// thread may post one just after the registration was cancelled, which no
// program can take back. Everything else keeps its place.
bool Queued(HWND wnd, SOCKET s) {
    const LPARAM kEnd = 0x454E44;
    PostMessageW(wnd, WM_SOCKET_STREAM, static_cast<WPARAM>(INVALID_SOCKET), kEnd);
    bool tagged = false;
    MSG msg;
    while (PeekMessageW(&msg, wnd, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM, PM_REMOVE | PM_QS_POSTMESSAGE)) {
        if (msg.wParam == static_cast<WPARAM>(INVALID_SOCKET) && msg.lParam == kEnd) {
            break;
        }
        if (msg.wParam != static_cast<WPARAM>(s)) {
            PostMessageW(wnd, msg.message, msg.wParam, msg.lParam);
        } else if (WSAGETSELECTERROR(msg.lParam) == kTestTag) {
            tagged = true;
        }
    }
    return tagged;
}

// Sends the datagrams to a UDP listener and waits, without pumping, until
// they are there to read: nothing about them has been handled yet.
bool DatagramsWaiting(SOCKET udp, std::initializer_list<const char*> datagrams) {
    OwnedSocket sender(OpenSocket(false));
    sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), PortOf(udp));
    for (const char* d : datagrams) {
        sendto(sender.Get(), d, lstrlenA(d), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(udp, &set);
    timeval wait{5, 0};
    return select(0, &set, nullptr, nullptr, &wait) == 1;
}

// A connection registered on the stream channel, as a waiting client's, whose
// peer has closed. The close is waited for without pumping, so nothing about
// it has been handled yet. INVALID_SOCKET when it could not be set up.
SOCKET ConnectionClosedByItsPeer(HWND wnd, SOCKET server) {
    OwnedSocket mine = ConnectPeer(PortOf(server));
    OwnedSocket old = AcceptPeer(server);
    if (!mine || !old) {
        return INVALID_SOCKET;
    }
    WSAAsyncSelect(mine.Get(), wnd, WM_SOCKET_STREAM, FD_READ | FD_CLOSE);
    closesocket(old.Release());
    fd_set closed;
    FD_ZERO(&closed);
    FD_SET(mine.Get(), &closed);
    timeval patience{5, 0};
    return select(0, &closed, nullptr, nullptr, &patience) == 1 ? mine.Release() : INVALID_SOCKET;
}

TEST_F(Listeners, NotificationsQueuedForAClosedSocketNeverReachTheNextOneWithItsHandle) {
    SOCKET udp = AddListenerOnAnyPort(false);
    ASSERT_NE(udp, INVALID_SOCKET);
    // A connection on the stream channel, as a waiting client's.
    OwnedSocket server = BoundPeer(true);
    SOCKET first = ConnectionClosedByItsPeer(wnd_, server.Get());
    ASSERT_NE(first, INVALID_SOCKET);
    // Queued: a read and a second close for it (as the platform may post),
    // and between them a datagram notification, which must stay in place.
    PostMessageW(wnd_, WM_SOCKET_STREAM, first, Tagged(FD_READ));
    PostMessageW(wnd_, WM_SOCKET_DATAGRAM, udp, Tagged(FD_READ));
    PostMessageW(wnd_, WM_SOCKET_STREAM, first, Tagged(FD_CLOSE));
    // Its close notification, handled now: while what was queued for it
    // waits, its handle value goes to no new socket.
    SendMessageW(wnd_, WM_SOCKET_STREAM, first, FD_CLOSE);
    {
        OwnedSocket meanwhile(OpenSocket(true));
        EXPECT_NE(meanwhile.Get(), first);
    }
    // Handled, the queued read and close are dropped and the datagram
    // notification keeps its place; then the socket is closed.
    EXPECT_TRUE(WaitReceived(L"\r\n"));
    EXPECT_FALSE(Queued(wnd_, first));

    // The next socket, given the same handle (checked), is connected and
    // registered as a waiting client's, with data already waiting: it is
    // no closed socket's.
    OwnedSocket next(OpenSocket(true));
    if (next.Get() != first) {
        GTEST_SKIP() << "the platform did not hand out the closed handle again";
    }
    sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), PortOf(server.Get()));
    ASSERT_EQ(connect(next.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof(to)), 0);
    OwnedSocket peer(accept(server.Get(), nullptr, nullptr));
    SendAll(peer.Get(), "fresh");
    SetText(IDC_REPLY_TEXT, L"R");
    fd_set set;
    FD_ZERO(&set);
    FD_SET(next.Get(), &set);
    timeval wait{5, 0};
    ASSERT_EQ(select(0, &set, nullptr, nullptr, &wait), 1);
    WSAAsyncSelect(next.Release(), wnd_, WM_SOCKET_STREAM, FD_READ | FD_CLOSE);

    // The datagram notification kept its place before the new socket's read.
    EXPECT_TRUE(WaitReceived(L"\r\nfresh")) << Received().c_str();
    PeerRead got = ReadPeer(peer.Get(), 2, 300);
    EXPECT_EQ(got.data, "R");  // one read, one reply
    EXPECT_FALSE(got.closed);
    SendAll(peer.Get(), "!");
    EXPECT_TRUE(WaitReceived(L"\r\nfresh!"));
    EXPECT_EQ(ReadPeer(peer.Get(), 1).data, "R");
}

// Within one run of notifications a closed connection is not swept off the
// queue at once: what is queued for its handle must still be dropped when the
// run comes to it, and the datagram notifications behind it still show.
TEST_F(Listeners, ARunDropsWhatWasQueuedForAConnectionItClosedAndShowsTheDatagramsBehind) {
    SOCKET udp = AddListenerOnAnyPort(false);
    ASSERT_NE(udp, INVALID_SOCKET);
    OwnedSocket server = BoundPeer(true);
    SOCKET first = ConnectionClosedByItsPeer(wnd_, server.Get());
    ASSERT_NE(first, INVALID_SOCKET);
    // Handled for a closed socket, a datagram notification would still add a
    // line break of its own, ahead of the datagram's.
    PostMessageW(wnd_, WM_SOCKET_DATAGRAM, first, Tagged(FD_READ));
    PostMessageW(wnd_, WM_SOCKET_STREAM, first, Tagged(FD_READ));
    sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), PortOf(udp));
    OwnedSocket sender(OpenSocket(false));
    sendto(sender.Get(), "dgram", 5, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    // The run starts with the close and goes on with what is queued behind it.
    SendMessageW(wnd_, WM_SOCKET_STREAM, first, FD_CLOSE);

    EXPECT_TRUE(PumpUntil([&] { return Received().find(L"dgram") != std::wstring::npos; }, 5000));
    EXPECT_EQ(WithoutEmptyLines(Received()), L"dgram\r\n");
    EXPECT_FALSE(Queued(wnd_, first));
}

TEST_F(Listeners, RemovingAListenerDropsItsQueuedNotifications) {
    SOCKET udp = AddListenerOnAnyPort(false);
    ASSERT_NE(udp, INVALID_SOCKET);
    PostMessageW(wnd_, WM_SOCKET_DATAGRAM, udp, Tagged(FD_READ));
    Click(IDC_REMOVE_ALL_LISTENERS);
    // Handled, a datagram notification would add a line break.
    PumpFor(200);
    EXPECT_EQ(Received(), L"");
    EXPECT_FALSE(Queued(wnd_, udp));
}

TEST_F(Listeners, AClosePostedWhileDataIsUnreadShowsItAndAnswersAHalfClosedPeer) {
    OwnedSocket server = BoundPeer(true);
    OwnedSocket mine = ConnectPeer(PortOf(server.Get()));
    OwnedSocket peer = AcceptPeer(server.Get());
    ASSERT_TRUE(mine && peer);
    // Registered for closes only, as far as reads go it is left alone.
    WSAAsyncSelect(mine.Get(), wnd_, WM_SOCKET_STREAM, FD_CLOSE);
    SetText(IDC_REPLY_TEXT, L"R");
    SendAll(peer.Get(), "last words");
    ASSERT_TRUE(PumpUntil([&] { return Readable(mine.Get()); }, 5000));
    shutdown(peer.Get(), SD_SEND);
    SendMessageW(wnd_, WM_SOCKET_STREAM, mine.Release(), FD_CLOSE);
    EXPECT_EQ(Received(), L"last words");
    PeerRead got = ReadPeer(peer.Get(), 2);
    EXPECT_EQ(got.data, "R");
    EXPECT_TRUE(got.closed);
}

TEST_F(Listeners, ACloseNotificationForALiveConnectionLeavesItOpen) {
    // As when a reset peer's close notification outlives it and the next
    // connection got its handle value.
    OwnedSocket server = BoundPeer(true);
    OwnedSocket mine = ConnectPeer(PortOf(server.Get()));
    OwnedSocket peer = AcceptPeer(server.Get());
    ASSERT_TRUE(mine && peer);
    SOCKET live = mine.Release();
    WSAAsyncSelect(live, wnd_, WM_SOCKET_STREAM, FD_READ | FD_CLOSE);
    SetText(IDC_REPLY_TEXT, L"R");
    SendMessageW(wnd_, WM_SOCKET_STREAM, live, FD_CLOSE);
    SendAll(peer.Get(), "still here");
    EXPECT_TRUE(WaitReceived(L"still here"));
    EXPECT_EQ(ReadPeer(peer.Get(), 1).data, "R");

    // Nor does one that names a listener: it goes on listening.
    SOCKET listener = AddListenerOnAnyPort(true);
    ASSERT_NE(listener, INVALID_SOCKET);
    SendMessageW(wnd_, WM_SOCKET_STREAM, listener, FD_CLOSE);
    EXPECT_EQ(ListCount(), 1);
    EXPECT_FALSE(PortFree(true, PortOf(listener)));
    EXPECT_TRUE(ConnectPeer(PortOf(listener)));
}

// Commands another thread sends are handled inside the run's look at the
// queue, while a connection it closed still has notifications queued: a
// listener removed, an Add whose bind fails and an Add that succeeds. Each
// keeps what the others and the run hold: the closed connection's queued
// notifications are dropped and it is closed, the removed listener's port is
// free, datagrams queued meanwhile show in their order, and the new listener
// answers its first connection.
TEST_F(Listeners, CommandsSentFromAnotherThreadInTheMiddleOfARunLeaveEveryoneItsNotifications) {
    SOCKET udp = AddListenerOnAnyPort(false);
    SOCKET removed = AddListenerOnAnyPort(true);
    ASSERT_TRUE(udp != INVALID_SOCKET && removed != INVALID_SOCKET);
    u_short removedPort = PortOf(removed);
    SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_SETCURSEL, 1, 0);
    OwnedSocket server = BoundPeer(true);
    OwnedSocket taken = BoundPeer(true);  // holds the port the failing Add asks for
    SOCKET first = ConnectionClosedByItsPeer(wnd_, server.Get());
    ASSERT_NE(first, INVALID_SOCKET);
    PostMessageW(wnd_, WM_SOCKET_STREAM, first, Tagged(FD_READ));
    ASSERT_TRUE(DatagramsWaiting(udp, {"d1", "d2"}));
    u_short fresh = FreePort();
    SetText(IDC_REPLY_TEXT, L"R");
    std::wstring freshText = std::to_wstring(fresh);
    std::wstring takenText = std::to_wstring(PortOf(taken.Get()));
    HWND wnd = wnd_;
    std::thread other([&] {
        SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_REMOVE_LISTENER, BN_CLICKED), 0);
        SetDlgItemTextW(wnd, IDC_LISTEN_PORT, takenText.c_str());
        SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_ADD_TCP_LISTENER, BN_CLICKED), 0);
        SetDlgItemTextW(wnd, IDC_LISTEN_PORT, freshText.c_str());
        SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_ADD_TCP_LISTENER, BN_CLICKED), 0);
    });
    // The first command waits to be taken before the run starts.
    for (int i = 0; i < 500 && !(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE); ++i) {
        Sleep(2);
    }
    SendMessageW(wnd_, WM_SOCKET_STREAM, first, FD_CLOSE);
    PumpUntil([&] { return ListCount() == 2; }, 5000);
    other.join();

    ASSERT_EQ(ListCount(), 2);
    EXPECT_EQ(Row(1), L"TCP - " + freshText);
    EXPECT_TRUE(PortFree(true, removedPort));
    EXPECT_FALSE(Queued(wnd_, first));
    OwnedSocket client = ConnectPeer(fresh);
    ASSERT_TRUE(client);
    SendAll(client.Get(), "first!");
    EXPECT_TRUE(PumpUntil([&] { return Received().find(L"first!") != std::wstring::npos; }, 5000));
    EXPECT_EQ(ReadPeer(client.Get(), 1).data, "R");
    EXPECT_EQ(WithoutEmptyLines(Received()), L"d1d2\r\nfirst!") << Received().c_str();
}

// Keys that remove every listener and open a new one, pressed while their
// notifications are queued: those go first, then the keys; the removed ports
// are free, a connection accepted before the removal lives on, and the new
// listener works, even where it got a closed one's handle value.
TEST_F(Listeners, InputInTheMiddleOfTrafficThatRemovesAndAddsListenersLeavesNoStaleNotification) {
    SOCKET udp = AddListenerOnAnyPort(false);
    SOCKET tcp = AddListenerOnAnyPort(true);
    ASSERT_TRUE(udp != INVALID_SOCKET && tcp != INVALID_SOCKET);
    u_short tcpPort = PortOf(tcp);
    if (!FocusForInput(wnd_, Control(IDC_HOST))) {
        GTEST_SKIP() << "the window system would not give the window the input";
    }
    PumpFor(100);
    // Queued, unhandled: the UDP listener's read and the TCP listener's accept.
    OwnedSocket sender(OpenSocket(false));
    sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), PortOf(udp));
    sendto(sender.Get(), "d1", 2, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    OwnedSocket client = ConnectPeer(tcpPort);
    ASSERT_TRUE(client);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(udp, &set);
    FD_SET(tcp, &set);
    timeval wait{5, 0};
    for (int ready = 0; ready < 2 && select(0, &set, nullptr, nullptr, &wait) > 0;) {
        ready = static_cast<int>(set.fd_count);
        FD_ZERO(&set);
        FD_SET(udp, &set);
        FD_SET(tcp, &set);
    }
    u_short fresh = FreePort();
    SetPort(IDC_LISTEN_PORT, fresh);
    PressKeys({VK_MENU, 'A'});  // Remove all
    PressKeys({VK_MENU, 'U'});  // Add a UDP listener on the fresh port
    EXPECT_TRUE(PumpUntil([&] { return ListCount() == 1; }, 2000)) << "the keys were not taken";
    ASSERT_EQ(ListCount(), 1);
    EXPECT_EQ(Row(0), L"UDP - " + std::to_wstring(fresh));
    EXPECT_TRUE(PortFree(true, tcpPort));
    SOCKET added = static_cast<SOCKET>(SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_GETITEMDATA, 0, 0));
    PumpFor(300);
    EXPECT_EQ(Received(), L"d1\r\n");
    EXPECT_FALSE(Queued(wnd_, udp));
    EXPECT_FALSE(Queued(wnd_, tcp));
    if (added != udp && added != tcp) {
        std::printf("(the new listener did not get a closed handle's value)\n");
    }
    to = MakeIpv4Address(htonl(INADDR_LOOPBACK), fresh);
    sendto(sender.Get(), "d2", 2, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    EXPECT_TRUE(WaitReceived(L"d1\r\nd2\r\n")) << Received().c_str();
    SendAll(client.Get(), "!");
    EXPECT_TRUE(WaitReceived(L"d1\r\nd2\r\n!")) << Received().c_str();
}

// A move of the window, entered while a flood comes in and clients connect,
// ask and close without pause: the move ends on its own Escape, not the
// window, and every connection whose peer closed is closed meanwhile.
TEST_F(Listeners, InputInTheMiddleOfTrafficEndsAMoveOfTheWindowWhileClosedConnectionsAreClosed) {
    SOCKET udp = AddListenerOnAnyPort(false);
    SOCKET tcp = AddListenerOnAnyPort(true);
    ASSERT_TRUE(udp != INVALID_SOCKET && tcp != INVALID_SOCKET);
    u_short tcpPort = PortOf(tcp);
    SetText(IDC_REPLY_TEXT, L"R");
    if (!FocusForInput(wnd_, Control(IDC_HOST))) {
        GTEST_SKIP() << "the window system would not give the window the input";
    }
    PumpFor(100);
    std::atomic<bool> moving{true};
    std::atomic<bool> clientsDone{false};
    std::atomic<int> asked{0};
    std::atomic<int> closed{0};
    std::thread clients([&] {
        for (int i = 0; i < 5000 && moving; ++i) {
            OwnedSocket c = ConnectPeer(tcpPort);
            if (!c) {
                continue;
            }
            ++asked;
            DWORD patience = 3000;
            setsockopt(c.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&patience), sizeof(patience));
            SendAll(c.Get(), "q");
            shutdown(c.Get(), SD_SEND);
            char answer[64];
            int got;
            while ((got = recv(c.Get(), answer, sizeof(answer), 0)) > 0) {
            }
            closed += got == 0 ? 1 : 0;  // the window closed its end
        }
        clientsDone = true;
    });
    Flood flood(PortOf(udp));
    HWND wnd = wnd_;
    std::thread person([&] {
        Sleep(700);
        PressKeys({VK_ESCAPE});
        // Bounded: a move that does not end on its input is ended from outside.
        for (int i = 0; i < 50 && moving; ++i) {
            Sleep(100);
        }
        if (moving) {
            PostMessageW(wnd, WM_KEYDOWN, VK_ESCAPE, 0);
        }
    });
    ULONGLONG start = GetTickCount64();
    SendMessageW(wnd_, WM_SYSCOMMAND, SC_MOVE, 0);  // the window system's loop, until the move ends
    ULONGLONG took = GetTickCount64() - start;
    moving = false;
    person.join();
    PumpUntil([&] { return clientsDone.load(); }, 10000);
    clients.join();

    EXPECT_LT(took, 1700u) << "the move did not end on its Escape";
    EXPECT_TRUE(IsWindowVisible(wnd_)) << "the Escape ended the window, not the move";
    EXPECT_GT(asked.load(), 5);
    EXPECT_EQ(closed.load(), asked.load()) << "connections the peer closed were left open";
}

// A send and the window's end, clicked and keyed while datagrams are being
// read: their text goes in before the send empties the box, and the send goes
// out on its new connection.
TEST_F(Listeners, InputInTheMiddleOfTrafficThatSendsAndEndsTheWindow) {
    SOCKET udp = AddListenerOnAnyPort(false);
    ASSERT_NE(udp, INVALID_SOCKET);
    OwnedSocket server = BoundPeer(true);
    SetText(IDC_HOST, L"127.0.0.1");
    SetPort(IDC_PORT, PortOf(server.Get()));
    SetText(IDC_SEND_TEXT, L"hello");
    if (!FocusForInput(wnd_, Control(IDC_HOST))) {
        GTEST_SKIP() << "the window system would not give the window the input";
    }
    PumpFor(100);
    ASSERT_TRUE(DatagramsWaiting(udp, {"d1", "d2"}));
    ClickControl(Control(IDC_SEND_TCP_WAIT));
    PressKeys({VK_ESCAPE});
    SendMessageW(wnd_, WM_SOCKET_DATAGRAM, udp, FD_READ);
    PumpUntil([&] { return !IsWindowVisible(wnd_); }, 2000);

    // The datagrams were taken and shown, then the send emptied the box.
    EXPECT_FALSE(Readable(udp));
    EXPECT_EQ(Received(), L"");
    EXPECT_FALSE(IsWindowVisible(wnd_)) << "Escape was not taken";
    OwnedSocket peer = AcceptPeer(server.Get());
    ASSERT_TRUE(peer);
    EXPECT_EQ(ReadPeer(peer.Get(), 5).data, "hello");
}

}  // namespace

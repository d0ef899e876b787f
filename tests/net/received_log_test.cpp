// Draining sockets into the received-text box: chunks, zero bytes, datagrams.
#include <gtest/gtest.h>

#include "net/channels.h"
#include "net/net_fixture.h"
#include "platform/controls.h"
#include "support/real_input.h"

#include <thread>

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
    EXPECT_TRUE(WaitReceived(L"\r\n")) << Received().c_str();
}

// A peer that keeps sending: the window's handling of its notifications goes
// on for a bounded time only and returns with data still arriving, and what
// later notifications bring continues the text exactly.
TEST_F(ReceivedLog, AStreamThatKeepsComingIsShownWholeAcrossRunsThatEndOnTime) {
    OwnedSocket server = BoundPeer(true);
    OwnedSocket peer = WaitingSendTo(server.Get(), L"");
    ASSERT_TRUE(peer);
    std::string all;
    for (int i = 0; i < 3000; ++i) {
        char piece[8];
        wsprintfA(piece, "p%04d;", i);
        all += piece;
    }
    bool sending = true;
    // One piece every 0.3 ms for about a second, so the window never waits
    // long for the next read notification.
    std::thread sender([&] {
        LARGE_INTEGER frequency, now, last;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&last);
        for (size_t at = 0; at < all.size(); at += 6) {
            SendAll(peer.Get(), all.substr(at, 6));
            do {
                QueryPerformanceCounter(&now);
            } while ((now.QuadPart - last.QuadPart) * 10000 < frequency.QuadPart * 3);
            last = now;
        }
        sending = false;
    });
    // Pumped by hand to time each handling of a notification.
    int runsWhileSending = 0;
    ULONGLONG longest = 0;
    ULONGLONG deadline = GetTickCount64() + 30000;
    std::wstring expected(all.begin(), all.end());
    while (Received() != expected && GetTickCount64() < deadline) {
        MSG msg;
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        bool notification = msg.hwnd == wnd_ && msg.message == WM_SOCKET_STREAM;
        bool during = sending;
        ULONGLONG start = GetTickCount64();
        DispatchMessageW(&msg);
        if (notification) {
            longest = longest < GetTickCount64() - start ? GetTickCount64() - start : longest;
            runsWhileSending += during ? 1 : 0;
        }
    }
    sender.join();
    EXPECT_EQ(Received(), expected) << Received().size();
    EXPECT_GE(runsWhileSending, 2);
    EXPECT_LT(longest, 1000u);
}

// A person's click that waits behind notifications: those queued ahead of it
// are handled first, in their order, and the click is taken before anything
// the platform posts later for their sockets, which are held back for it and
// resume behind it. None is lost or doubled.
TEST_F(ReceivedLog, NotificationsQueuedAheadOfAClickAreHandledFirstAndTheirSocketsResumeBehindIt) {
    SOCKET listeners[3];
    OwnedSocket sender(OpenSocket(false));
    for (int i = 0; i < 3; ++i) {
        listeners[i] = AddListenerOnAnyPort(false);
        ASSERT_NE(listeners[i], INVALID_SOCKET);
    }
    if (!FocusForInput(wnd_, Control(IDC_HOST))) {
        GTEST_SKIP() << "the window system would not give the window the input";
    }
    PumpFor(100);
    auto send = [&](int i, char c) {
        sockaddr_in to = MakeIpv4Address(htonl(INADDR_LOOPBACK), PortOf(listeners[i]));
        sendto(sender.Get(), &c, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    };
    // One datagram each, so each listener has one read notification queued.
    for (int i = 0; i < 3; ++i) {
        send(i, static_cast<char>('a' + i));
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listeners[i], &set);
        timeval wait{5, 0};
        ASSERT_EQ(select(0, &set, nullptr, nullptr, &wait), 1);
    }
    ASSERT_TRUE(HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE);
    ClickControl(Control(IDC_CLEAR_RECV));
    ASSERT_TRUE(HIWORD(GetQueueStatus(QS_INPUT)) & QS_MOUSEBUTTON) << "the click did not reach the queue";

    // Each notification queued ahead of the click is handled, and holds its
    // listener back; what arrives now waits behind the click.
    for (int i = 0; i < 3; ++i) {
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, wnd_, WM_SOCKET_DATAGRAM, WM_SOCKET_DATAGRAM, PM_REMOVE));
        DispatchMessageW(&msg);
    }
    for (int i = 0; i < 3; ++i) {
        send(i, static_cast<char>('d' + i));
    }
    // The click empties the box; the later datagrams come behind it.
    EXPECT_TRUE(PumpUntil([&] { return WithoutEmptyLines(Received()).size() == 9; }, 2000));
    PumpFor(200);
    std::wstring after = WithoutEmptyLines(Received());
    EXPECT_EQ(after.size(), 9u) << after.c_str();
    for (wchar_t c : {L'd', L'e', L'f'}) {
        EXPECT_NE(after.find(c), std::wstring::npos) << after.c_str();
    }
}

// Real keys while a peer floods the window: a typed character and a
// mnemonic take effect within a second, not when the flood ends.
TEST_F(ReceivedLog, KeysTakeEffectDuringAFlood) {
    SOCKET listener = AddListenerOnAnyPort(false);
    ASSERT_NE(listener, INVALID_SOCKET);
    if (!FocusForInput(wnd_, Control(IDC_SEND_TEXT))) {
        GTEST_SKIP() << "the window system would not give the window the input";
    }
    Flood flood(PortOf(listener));
    ASSERT_TRUE(PumpUntil([&] { return !Received().empty(); }, 5000));
    PumpFor(200);
    PressKeys({'X'});
    bool typed = PumpUntil([&] { return Text(IDC_SEND_TEXT) == L"x"; }, 1000);
    PressKeys({VK_MENU, 'P'});  // Insert POST: the typed text becomes the body
    bool posted = PumpUntil([&] { return Text(IDC_SEND_TEXT).rfind(L"POST / ", 0) == 0; }, 1000);
    EXPECT_TRUE(typed) << Text(IDC_SEND_TEXT).c_str();
    EXPECT_TRUE(posted) << Text(IDC_SEND_TEXT).c_str();
    std::wstring request = Text(IDC_SEND_TEXT);
    EXPECT_TRUE(request.size() > 5 && request.compare(request.size() - 5, 5, L"\r\n\r\nx") == 0);
}

// How many socket notifications wait in the window's queue; they keep their
// order.
int QueuedNotifications(HWND wnd) {
    const LPARAM kEnd = 0x454E44;
    PostMessageW(wnd, WM_SOCKET_STREAM, static_cast<WPARAM>(INVALID_SOCKET), kEnd);
    int count = 0;
    MSG msg;
    while (PeekMessageW(&msg, wnd, WM_SOCKET_STREAM, WM_SOCKET_DATAGRAM, PM_REMOVE)) {
        if (msg.wParam == static_cast<WPARAM>(INVALID_SOCKET) && msg.lParam == kEnd) {
            break;
        }
        PostMessageW(wnd, msg.message, msg.wParam, msg.lParam);
        ++count;
    }
    return count;
}

// Every receive that leaves data waiting makes the platform post another
// read notification. Under a flood, a drain of many chunks must not leave as
// many notifications behind, or the queue grows for as long as the flood
// lasts, and everything that sweeps it (removing a listener, closing the
// window) takes longer and longer.
TEST_F(ReceivedLog, AFloodLeavesFewNotificationsQueued) {
    SOCKET udp = AddListenerOnAnyPort(false);
    OwnedSocket server = BoundPeer(true);
    OwnedSocket stream = WaitingSendTo(server.Get(), L"");
    ASSERT_TRUE(udp != INVALID_SOCKET && stream);
    int most = 0;
    Flood datagrams(PortOf(udp));
    Flood bytes(stream.Get());
    ULONGLONG end = GetTickCount64() + 1500;
    while (GetTickCount64() < end) {
        PumpFor(100);
        int queued = QueuedNotifications(wnd_);
        most = queued > most ? queued : most;
    }
    EXPECT_GT(Received().size(), 0u);
    EXPECT_LT(most, 64) << "notifications queued during the flood";
}

}  // namespace

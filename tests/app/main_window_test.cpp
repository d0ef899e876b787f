// The main window as the real procedure makes it: initial state, the command
// table, and the private notification messages.
#include <gtest/gtest.h>

#include "net/channels.h"
#include "support/main_window_fixture.h"

namespace {

using MainWindow = MainWindowTest;

TEST_F(MainWindow, OpensWithBothPortsAt80AndEverythingElseEmpty) {
    EXPECT_EQ(Text(IDC_PORT), L"80");
    EXPECT_EQ(Text(IDC_LISTEN_PORT), L"80");
    for (int id : {IDC_HOST, IDC_SEND_TEXT, IDC_RECV_TEXT, IDC_REPLY_TEXT}) {
        EXPECT_EQ(Text(id), L"") << id;
    }
    EXPECT_EQ(SendDlgItemMessageW(wnd_, IDC_LISTENERS, LB_GETCOUNT, 0, 0), 0);
    wchar_t title[32] = {};
    GetWindowTextW(wnd_, title, 32);
    EXPECT_STREQ(title, L"網路檢視");
}

TEST_F(MainWindow, CarriesTheExecutablesIconAsItsBigIconOnly) {
    HICON expected = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(wnd_, WM_GETICON, ICON_BIG, 0)), expected);
    EXPECT_EQ(SendMessageW(wnd_, WM_GETICON, ICON_SMALL, 0), 0);
}

TEST_F(MainWindow, ClearButtonsEmptyTheirOwnBoxOnly) {
    struct Case {
        int button;
        int box;
    };
    for (Case c : {Case{IDC_CLEAR_SEND, IDC_SEND_TEXT}, Case{IDC_CLEAR_RECV, IDC_RECV_TEXT},
                   Case{IDC_CLEAR_REPLY, IDC_REPLY_TEXT}}) {
        for (int id : {IDC_SEND_TEXT, IDC_RECV_TEXT, IDC_REPLY_TEXT, IDC_HOST}) {
            SetText(id, L"line one\r\nline two");
        }
        Click(c.button);
        for (int id : {IDC_SEND_TEXT, IDC_RECV_TEXT, IDC_REPLY_TEXT, IDC_HOST}) {
            EXPECT_EQ(Text(id), id == c.box ? L"" : L"line one\r\nline two") << "button " << c.button << " box " << id;
        }
    }
}

TEST_F(MainWindow, CommandsMatchOnlyWithANotificationCodeOfZero) {
    SetText(IDC_SEND_TEXT, L"keep");
    // An edit-box notification that happens to carry a button's number in its
    // low word is not a click.
    Command(MAKEWPARAM(IDC_CLEAR_SEND, EN_CHANGE));
    Command(MAKEWPARAM(IDC_CLEAR_SEND, 1));
    EXPECT_EQ(Text(IDC_SEND_TEXT), L"keep");
    Command(MAKEWPARAM(IDCANCEL, 1));
    EXPECT_TRUE(IsWindowVisible(wnd_));
    Command(IDC_CLEAR_SEND);
    EXPECT_EQ(Text(IDC_SEND_TEXT), L"");
}

TEST_F(MainWindow, TypingNeverTriggersAnAction) {
    SetText(IDC_SEND_TEXT, L"x");
    for (int id : {IDC_HOST, IDC_PORT, IDC_LISTEN_PORT, IDC_REPLY_TEXT}) {
        SetFocus(Control(id));
        SendMessageW(Control(id), WM_CHAR, L'1', 0);
    }
    PumpFor(50);
    EXPECT_EQ(Text(IDC_SEND_TEXT), L"x");
    EXPECT_EQ(Text(IDC_PORT), L"180");
}

TEST_F(MainWindow, NotificationMessagesAreHandledAndNeverMoveTheDefaultButton) {
    LRESULT before = SendMessageW(wnd_, DM_GETDEFID, 0, 0);
    // A socket value that is also a button's identifier: the dialog manager
    // would make that button the default if the procedure let it.
    SetLastError(0);
    SendMessageW(wnd_, WM_SOCKET_STREAM, IDC_SEND_UDP, FD_READ);
    SendMessageW(wnd_, WM_SOCKET_DATAGRAM, IDC_SEND_UDP, FD_READ);
    EXPECT_EQ(SendMessageW(wnd_, DM_GETDEFID, 0, 0), before);
    EXPECT_EQ(MainDlgProc(wnd_, WM_SOCKET_STREAM, IDC_SEND_UDP, 0), TRUE);
    EXPECT_EQ(MainDlgProc(wnd_, WM_SOCKET_DATAGRAM, IDC_SEND_UDP, 0), TRUE);
    EXPECT_EQ(MainDlgProc(wnd_, DM_GETDEFID, 0, 0), FALSE);
}

// Runs the window modally, as the program does, with the given messages
// posted to it once it exists; returns DialogBoxParamW's result.
INT_PTR RunModal(std::vector<std::pair<UINT, WPARAM>> posts) {
    struct Context {
        std::vector<std::pair<UINT, WPARAM>> posts;
    } context{std::move(posts)};
    auto proc = [](HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            auto* c = reinterpret_cast<Context*>(lParam);
            for (auto [m, w] : c->posts) {
                PostMessageW(wnd, m, w, 0);
            }
            SetTimer(wnd, 1, 5000, nullptr);  // a safety net: never hang the test
            return MainDlgProc(wnd, message, wParam, 0);
        }
        if (message == WM_TIMER) {
            EndDialog(wnd, 42);
            return TRUE;
        }
        return MainDlgProc(wnd, message, wParam, lParam);
    };
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, proc,
                           reinterpret_cast<LPARAM>(&context));
}

TEST(MainWindowModal, CancelEndsTheWindowWithResult0) {
    EXPECT_EQ(RunModal({{WM_COMMAND, IDCANCEL}}), 0);
}

TEST(MainWindowModal, CloseBoxEndsTheWindowWithResult0) {
    EXPECT_EQ(RunModal({{WM_SYSCOMMAND, SC_CLOSE}}), 0);
}

TEST(MainWindowModal, EnterDoesNothing) {
    // IDOK (Enter) must leave the window open: only the safety net ends it.
    EXPECT_EQ(RunModal({{WM_COMMAND, IDOK}}), 42);
}

}  // namespace

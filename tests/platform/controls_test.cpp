// The shared control operations on the real window.
#include <gtest/gtest.h>

#include "platform/controls.h"
#include "support/main_window_fixture.h"

namespace {

using Controls = MainWindowTest;

// Text lands at the end whatever the person selected, and the selection and
// the lines shown stay, so text can be read and copied while more arrives. A
// caret at the end follows the text.
TEST_F(Controls, AppendLandsAtTheEndAndKeepsAPersonsSelectionAndPlace) {
    HWND box = Control(IDC_RECV_TEXT);
    std::wstring lines;
    for (int i = 0; i < 40; ++i) {
        lines += L"line " + std::to_wstring(i) + L"\r\n";
    }
    SetText(IDC_RECV_TEXT, lines);
    SendMessageW(box, EM_SETSEL, 7, 11);
    SendMessageW(box, EM_LINESCROLL, 0, -1000);
    SendMessageW(box, EM_LINESCROLL, 0, 2);
    LRESULT top = SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
    AppendToTextBox(box, L"+tail");
    EXPECT_EQ(Text(IDC_RECV_TEXT), lines + L"+tail");
    DWORD start = 0, end = 0;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 7u);
    EXPECT_EQ(end, 11u);
    EXPECT_EQ(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0), top);

    // The caret at the end follows, and the end shows.
    LRESULT length = SendMessageW(box, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(box, EM_SETSEL, length, length);
    AppendToTextBox(box, L"\r\nnext");
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, static_cast<DWORD>(length + 6));
    EXPECT_EQ(end, start);
    EXPECT_GT(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0), top);
}

TEST_F(Controls, AppendObeysTheBoxsLimitWhichStaysAtThePlatformDefault) {
    LRESULT limit = SendDlgItemMessageW(wnd_, IDC_RECV_TEXT, EM_GETLIMITTEXT, 0, 0);
    ASSERT_GT(limit, 0);
    // Short lines: one wrapped line of 30,000 characters takes seconds to lay out.
    std::wstring big;
    while (big.size() + 103 <= static_cast<size_t>(limit)) {
        big += std::wstring(98, L'a') + L"\r\n";
    }
    big += std::wstring(static_cast<size_t>(limit) - 3 - big.size(), L'a');
    SetText(IDC_RECV_TEXT, big);
    AppendToTextBox(Control(IDC_RECV_TEXT), L"bcdef");
    EXPECT_EQ(Text(IDC_RECV_TEXT), big + L"bcd");
}

TEST_F(Controls, NumbersReadAsUnsigned32BitValues) {
    SetText(IDC_PORT, L"  8080");
    EXPECT_EQ(ReadControlNumber(wnd_, IDC_PORT), 8080u);
    SetText(IDC_PORT, L"");
    EXPECT_EQ(ReadControlNumber(wnd_, IDC_PORT), 0u);
    SetText(IDC_PORT, L"http");
    EXPECT_EQ(ReadControlNumber(wnd_, IDC_PORT), 0u);
    SetText(IDC_PORT, L"3000000000");
    EXPECT_EQ(ReadControlNumber(wnd_, IDC_PORT), 3000000000u);
}

TEST_F(Controls, ListRowsKeepTheirDataInOrderOfAdding) {
    EXPECT_EQ(AddListItem(wnd_, IDC_LISTENERS, L"UDP - 9"), 0);
    EXPECT_EQ(AddListItem(wnd_, IDC_LISTENERS, L"TCP - 1"), 1);
    SetListItemData(wnd_, IDC_LISTENERS, 1, 777);
    EXPECT_EQ(GetListItemData(wnd_, IDC_LISTENERS, 1), 777);
    EXPECT_EQ(GetListSelection(wnd_, IDC_LISTENERS), LB_ERR);
    DeleteListItem(wnd_, IDC_LISTENERS, 0);
    EXPECT_EQ(GetListCount(wnd_, IDC_LISTENERS), 1);
    EXPECT_EQ(GetListItemData(wnd_, IDC_LISTENERS, 0), 777);
}

}  // namespace

// The shared control operations on the real window.
#include <gtest/gtest.h>

#include "platform/controls.h"
#include "support/main_window_fixture.h"

namespace {

using Controls = MainWindowTest;

TEST_F(Controls, AppendLandsAtTheEndWhateverTheUserSelected) {
    SetText(IDC_RECV_TEXT, L"first\r\nsecond");
    SendDlgItemMessageW(wnd_, IDC_RECV_TEXT, EM_SETSEL, 2, 4);
    AppendToTextBox(Control(IDC_RECV_TEXT), L"+tail");
    EXPECT_EQ(Text(IDC_RECV_TEXT), L"first\r\nsecond+tail");
    DWORD start = 0, end = 0;
    SendDlgItemMessageW(wnd_, IDC_RECV_TEXT, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                        reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 18u);
    EXPECT_EQ(end, 18u);
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

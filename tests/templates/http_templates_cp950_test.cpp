// Content-Length under a double-byte ANSI code page: it counts the bytes the
// body takes when sent, not its characters. Run with LC_ALL=zh_TW.UTF-8,
// which gives Wine code page 950.
#include <gtest/gtest.h>

#include "support/main_window_fixture.h"

namespace {

using HttpTemplatesCp950 = MainWindowTest;

TEST_F(HttpTemplatesCp950, ContentLengthCountsTheBytesOfAChineseBody) {
    ASSERT_EQ(GetACP(), 950u) << "written for code page 950";
    // Four characters of two bytes each, then CR LF and two ASCII letters.
    const std::wstring body = L"中文網頁\r\nOK";

    SetText(IDC_REPLY_TEXT, body);
    Click(IDC_INSERT_HTML_REPLY);
    EXPECT_EQ(Text(IDC_REPLY_TEXT),
              L"HTTP/1.0 200 OK\r\nServer: VizizAzidev\r\nAccept-Ranges: bytes\r\n"
              L"Date: Mon, 13 Sep 2006 23:33:12 GMT\r\nContent-Type: text/html\r\nContent-Length: 12\r\n\r\n" +
                  body);

    SetText(IDC_HOST, L"localhost");
    SetText(IDC_SEND_TEXT, body);
    Click(IDC_INSERT_POST);
    EXPECT_EQ(Text(IDC_SEND_TEXT),
              L"POST / HTTP/1.1\r\nAccept: text/*\r\nUser-Agent: Custom\r\nHost: localhost\r\n"
              L"Content-Length: 12\r\nCache-Control: no-cache\r\n\r\n" +
                  body);
}

}  // namespace

// The GET, POST and HTML-reply buttons as they rewrite the real window's text
// boxes.
#include <gtest/gtest.h>

#include <string>

#include "support/main_window_fixture.h"

namespace {

using HttpTemplates = MainWindowTest;

std::wstring Post(const std::wstring& host, const std::wstring& body) {
    return L"POST / HTTP/1.1\r\nAccept: text/*\r\nUser-Agent: Custom\r\nHost: " + host +
           L"\r\nContent-Length: " + std::to_wstring(body.size()) + L"\r\nCache-Control: no-cache\r\n\r\n" + body;
}

std::wstring Get(const std::wstring& host) {
    return L"GET / HTTP/1.1\r\nAccept: text/*\r\nUser-Agent: Custom\r\nHost: " + host + L"\r\nConnection: close\r\n\r\n";
}

std::wstring Reply(const std::wstring& body) {
    return L"HTTP/1.0 200 OK\r\nServer: VizizAzidev\r\nAccept-Ranges: bytes\r\nDate: Mon, 13 Sep 2006 23:33:12 GMT\r\n"
           L"Content-Type: text/html\r\nContent-Length: " +
           std::to_wstring(body.size()) + L"\r\n\r\n" + body;
}

// A result longer than the formatter's limit (1,024 characters with the
// terminator; Wine writes one fewer) is its beginning, cut there.
void ExpectWholeOrCutAtFormatterLimit(const std::wstring& actual, const std::wstring& whole) {
    if (whole.size() < 1024) {
        EXPECT_EQ(actual, whole);
        return;
    }
    EXPECT_GE(actual.size(), 1023u);
    EXPECT_LE(actual.size(), 1024u);
    EXPECT_EQ(actual, whole.substr(0, actual.size()));
}

TEST_F(HttpTemplates, RequestsCarryTheHostAndPostCarriesTheOldTextAsItsBody) {
    SetText(IDC_HOST, L"www.example.com");
    SetText(IDC_SEND_TEXT, L"name=wirepad\r\nok");
    Click(IDC_INSERT_POST);
    const std::wstring first = Text(IDC_SEND_TEXT);
    EXPECT_EQ(first,
              L"POST / HTTP/1.1\r\nAccept: text/*\r\nUser-Agent: Custom\r\nHost: www.example.com\r\n"
              L"Content-Length: 16\r\nCache-Control: no-cache\r\n\r\nname=wirepad\r\nok");
    Click(IDC_INSERT_POST);
    EXPECT_EQ(Text(IDC_SEND_TEXT), Post(L"www.example.com", first));

    Click(IDC_INSERT_GET);
    EXPECT_EQ(Text(IDC_SEND_TEXT),
              L"GET / HTTP/1.1\r\nAccept: text/*\r\nUser-Agent: Custom\r\nHost: www.example.com\r\n"
              L"Connection: close\r\n\r\n");

    SetText(IDC_HOST, L"");
    SetText(IDC_SEND_TEXT, L"");
    Click(IDC_INSERT_POST);
    EXPECT_EQ(Text(IDC_SEND_TEXT), Post(L"", L""));
    Click(IDC_INSERT_GET);
    EXPECT_EQ(Text(IDC_SEND_TEXT), Get(L""));
    EXPECT_EQ(Text(IDC_REPLY_TEXT), L"");
}

TEST_F(HttpTemplates, ReplyCarriesTheOldTextOrTheDefaultSentence) {
    Click(IDC_INSERT_HTML_REPLY);
    const std::wstring first = Text(IDC_REPLY_TEXT);
    EXPECT_EQ(first,
              L"HTTP/1.0 200 OK\r\nServer: VizizAzidev\r\nAccept-Ranges: bytes\r\n"
              L"Date: Mon, 13 Sep 2006 23:33:12 GMT\r\nContent-Type: text/html\r\nContent-Length: 16\r\n\r\n"
              L"Have a nice day.");
    Click(IDC_INSERT_HTML_REPLY);
    EXPECT_EQ(Text(IDC_REPLY_TEXT), Reply(first));

    SetText(IDC_REPLY_TEXT, L"<p>hello</p>\r\n");
    Click(IDC_INSERT_HTML_REPLY);
    EXPECT_EQ(Text(IDC_REPLY_TEXT), Reply(L"<p>hello</p>\r\n"));
    EXPECT_EQ(Text(IDC_SEND_TEXT), L"");
}

TEST_F(HttpTemplates, BodiesBeyondTheFormatterLimitAreCutWhileContentLengthCountsThemWhole) {
    // 142 fixed characters, 3 digits and 878 characters fill 1,023 exactly.
    for (size_t n : {878u, 879u, 2000u}) {
        std::wstring body(n, L'x');
        body.replace(n / 2, 2, L"\r\n");
        SetText(IDC_REPLY_TEXT, body);
        Click(IDC_INSERT_HTML_REPLY);
        ExpectWholeOrCutAtFormatterLimit(Text(IDC_REPLY_TEXT), Reply(body));

        SetText(IDC_HOST, L"localhost");
        SetText(IDC_SEND_TEXT, body);
        Click(IDC_INSERT_POST);
        ExpectWholeOrCutAtFormatterLimit(Text(IDC_SEND_TEXT), Post(L"localhost", body));
    }
}

// Also run under Wine's heap checking: with 127 characters of host a request
// needs more room than its body plus a fixed margin, most for short bodies.
TEST_F(HttpTemplates, HostTextIsCutAt127CharactersAndLongHostsStillFit) {
    std::wstring host;
    for (int i = 0; i < 200; ++i) {
        host += static_cast<wchar_t>(L'a' + i % 26);
    }
    for (size_t hostLength : {128u, 200u}) {
        SetText(IDC_HOST, host.substr(0, hostLength));
        for (size_t n : {0u, 1u, 9u, 10u, 99u, 100u, 500u, 823u, 824u, 900u}) {
            const std::wstring body(n, L'b');
            SetText(IDC_SEND_TEXT, body);
            Click(IDC_INSERT_POST);
            ExpectWholeOrCutAtFormatterLimit(Text(IDC_SEND_TEXT), Post(host.substr(0, 127), body));
            SetText(IDC_SEND_TEXT, body);
            Click(IDC_INSERT_GET);
            EXPECT_EQ(Text(IDC_SEND_TEXT), Get(host.substr(0, 127))) << "body " << n;
        }
    }
}

}  // namespace

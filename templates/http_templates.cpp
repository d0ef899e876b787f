#include "templates/http_templates.h"

#include <cstddef>
#include <iterator>

#include "platform/controls.h"
#include "platform/memory_block.h"
#include "platform/text_codec.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kPostTemplate[] =
    L"POST / HTTP/1.1\r\nAccept: text/*\r\nUser-Agent: Custom\r\nHost: %s\r\nContent-Length: %d\r\n"
    L"Cache-Control: no-cache\r\n\r\n%s";
constexpr wchar_t kGetTemplate[] =
    L"GET / HTTP/1.1\r\nAccept: text/*\r\nUser-Agent: Custom\r\nHost: %s\r\nConnection: close\r\n\r\n";
constexpr wchar_t kReplyTemplate[] =
    L"HTTP/1.0 200 OK\r\nServer: VizizAzidev\r\nAccept-Ranges: bytes\r\n"
    L"Date: Mon, 13 Sep 2006 23:33:12 GMT\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n%s";
constexpr wchar_t kDefaultReplyBody[] = L"Have a nice day.";

// The host text is read with room for 127 characters and a terminator.
constexpr int kHostCapacity = 128;
// A length printed by %d is never negative, so it has at most 10 digits.
constexpr std::ptrdiff_t kMaxDigits = 10;

// Characters the formatted text can take: the template (its placeholders and
// terminator counted too, which only adds slack), the longest host text, the
// longest number and the body. A block of that many characters and a
// terminator holds every result whole, so the only cut is the formatter's own
// limit of 1,024 characters with the terminator.
std::ptrdiff_t RoomFor(std::ptrdiff_t templateCharacters, std::ptrdiff_t body) {
    return templateCharacters + (kHostCapacity - 1) + kMaxDigits + body;
}

}  // namespace

void InsertHttpRequest(HWND wnd, bool usePost) {
    wchar_t host[kHostCapacity] = {};
    ReadControlText(wnd, IDC_HOST, host, kHostCapacity);

    int length = GetControlTextLength(wnd, IDC_SEND_TEXT);
    ZeroedBlock body = AllocateWideText(length);
    if (!body) {
        return;
    }
    ZeroedBlock output = AllocateWideText(usePost ? RoomFor(std::ssize(kPostTemplate), length)
                                                  : RoomFor(std::ssize(kGetTemplate), 0));
    if (!output) {
        return;
    }
    int read = ReadControlText(wnd, IDC_SEND_TEXT, body.Wide(), length + 1);

    if (usePost) {
        // Content-Length counts the bytes the body takes on the wire, where the
        // whole text goes in the ANSI code page: two bytes a character for a
        // Chinese text under a double-byte code page, one for ASCII.
        AnsiText wire = ConvertToAnsi(body.Wide(), read);
        if (!wire.block) {
            return;
        }
        wsprintfW(output.Wide(), kPostTemplate, host, wire.bytes, body.Wide());
    } else {
        // A GET carries no body: whatever the box held is dropped.
        wsprintfW(output.Wide(), kGetTemplate, host);
    }
    SetControlText(wnd, IDC_SEND_TEXT, output.Wide());
}

void InsertHtmlReply(HWND wnd) {
    int length = GetControlTextLength(wnd, IDC_REPLY_TEXT);
    if (length == 0) {
        // Stays in the box even if the reply cannot be built below.
        SetControlText(wnd, IDC_REPLY_TEXT, kDefaultReplyBody);
        length = static_cast<int>(std::ssize(kDefaultReplyBody) - 1);
    }
    ZeroedBlock body = AllocateWideText(length);
    if (!body) {
        return;
    }
    ZeroedBlock output = AllocateWideText(RoomFor(std::ssize(kReplyTemplate), length));
    if (!output) {
        return;
    }
    int read = ReadControlText(wnd, IDC_REPLY_TEXT, body.Wide(), length + 1);

    // Sent back in the ANSI code page, so the length is counted there (see
    // the request above).
    AnsiText wire = ConvertToAnsi(body.Wide(), read);
    if (!wire.block) {
        return;
    }
    wsprintfW(output.Wide(), kReplyTemplate, wire.bytes, body.Wide());
    SetControlText(wnd, IDC_REPLY_TEXT, output.Wide());
}

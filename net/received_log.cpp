#include "net/received_log.h"

#include "platform/controls.h"
#include "platform/text_codec.h"
#include "resources/resource.h"

namespace {

// A flood keeps a socket full, and each append costs the edit control real
// time, so one notification reads at most this many chunks; the platform posts
// a new read notification for what is left, and clicks get their turn between.
const int kChunksPerNotification = 32;

}  // namespace

bool AppendReceived(HWND wnd, SOCKET s, bool addLineBreak) {
    HWND box = GetDlgItem(wnd, IDC_RECV_TEXT);
    bool received = false;
    char buffer[1024];
    ZeroedBlock shown;  // the last chunk's text; the next chunk replaces it
    for (int chunk = 0; chunk < kChunksPerNotification; ++chunk) {
        // Zeroed each time and one byte short, so the chunk always ends in a zero.
        ZeroMemory(buffer, sizeof(buffer));
        int got = recv(s, buffer, sizeof(buffer) - 1, 0);
        if (got == 0 || got == SOCKET_ERROR) {
            break;  // peer closed, an empty datagram, nothing more waiting, or an error
        }
        received = true;
        // Shown up to the first zero byte; each chunk is converted on its own.
        shown = ConvertFromAnsi(buffer, lstrlenA(buffer));
        if (!shown) {
            break;  // memory is short: leave the rest for the next read notification
        }
        AppendToTextBox(box, shown.Wide());
    }
    if (addLineBreak) {
        AppendToTextBox(box, L"\r\n");
    }
    return received;
}

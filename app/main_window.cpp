#include "app/main_window.h"

#include <winsock2.h>

#include "net/channels.h"
#include "net/client_send.h"
#include "net/listeners.h"
#include "net/notifications.h"
#include "net/received_log.h"
#include "net/traffic.h"
#include "platform/controls.h"
#include "resources/resource.h"
#include "templates/http_templates.h"

namespace {

void InitMainWindow(HWND wnd) {
    // The icon always comes from the executable, even when the window's
    // template came from a satellite module.
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
    SendMessageW(wnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    WriteControlNumber(wnd, IDC_PORT, 80);
    WriteControlNumber(wnd, IDC_LISTEN_PORT, 80);
}

// The whole wParam is compared, so only clicks (notification code 0) and
// IDCANCEL match: edit-box notifications never do, nor does Enter (IDOK).
void RunCommand(HWND wnd, WPARAM command) {
    switch (command) {
    case IDCANCEL:
        EndDialog(wnd, 0);
        break;
    case IDC_SEND_TCP_WAIT:
        SendRequest(wnd, true, false);
        break;
    case IDC_SEND_TCP_NOWAIT:
        SendRequest(wnd, true, true);
        break;
    case IDC_SEND_UDP:
        SendRequest(wnd, false, true);
        break;
    case IDC_CLEAR_RECV:
        ClearControl(wnd, IDC_RECV_TEXT);
        break;
    case IDC_CLEAR_SEND:
        ClearControl(wnd, IDC_SEND_TEXT);
        break;
    case IDC_INSERT_POST:
        InsertHttpRequest(wnd, true);
        break;
    case IDC_INSERT_GET:
        InsertHttpRequest(wnd, false);
        break;
    case IDC_ADD_TCP_LISTENER:
        AddListener(wnd, true);
        break;
    case IDC_ADD_UDP_LISTENER:
        AddListener(wnd, false);
        break;
    case IDC_REMOVE_LISTENER:
        RemoveListeners(wnd, false);
        break;
    case IDC_REMOVE_ALL_LISTENERS:
        RemoveListeners(wnd, true);
        break;
    case IDC_INSERT_HTML_REPLY:
        InsertHtmlReply(wnd);
        break;
    case IDC_CLEAR_REPLY:
        ClearControl(wnd, IDC_REPLY_TEXT);
        break;
    default:
        break;
    }
}

}  // namespace

INT_PTR CALLBACK MainDlgProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        // What the traffic must remember lives with the window; without it
        // the window cannot run, and ends as silently as every failure.
        if (!CreateTraffic(wnd)) {
            EndDialog(wnd, 0);
            return FALSE;
        }
        InitMainWindow(wnd);
        return FALSE;
    case WM_COMMAND:
        // A command finds in the box everything received before it.
        if (HIWORD(wParam) == 0) {
            ShowReceivedText(wnd);
        }
        RunCommand(wnd, wParam);
        return FALSE;
    case WM_DESTROY:
        RemoveListeners(wnd, true);
        DestroyTraffic(wnd);
        return FALSE;
    case WM_TIMER:
        return HandleTrafficTimer(wnd, wParam) ? TRUE : FALSE;
    // Reported handled, so the dialog manager never reads them as
    // DM_SETDEFID or DM_REPOSITION.
    case WM_SOCKET_STREAM:
    case WM_SOCKET_DATAGRAM:
        HandleSocketNotification(wnd, message, wParam, lParam);
        return TRUE;
    case WM_SHOW_RECEIVED:
        HandleShowReceived(wnd);
        return TRUE;
    default:
        return FALSE;
    }
}

#include "platform/controls.h"

int GetControlTextLength(HWND wnd, int id) {
    return static_cast<int>(SendDlgItemMessageW(wnd, id, WM_GETTEXTLENGTH, 0, 0));
}

int ReadControlText(HWND wnd, int id, wchar_t* buffer, int capacity) {
    return static_cast<int>(GetDlgItemTextW(wnd, id, buffer, capacity));
}

void SetControlText(HWND wnd, int id, const wchar_t* text) {
    SendDlgItemMessageW(wnd, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void ClearControl(HWND wnd, int id) {
    SetControlText(wnd, id, nullptr);
}

void AppendToTextBox(HWND box, const wchar_t* text) {
    AppendToTextBoxAt(box, SendMessageW(box, WM_GETTEXTLENGTH, 0, 0), SendMessageW(box, EM_GETLIMITTEXT, 0, 0), text);
}

void AppendToTextBoxAt(HWND box, LRESULT length, LRESULT limit, const wchar_t* text) {
    // A full box would cut all of the text anyway; skipping the selection and
    // replacement spares the edit control laying its whole text out again for
    // nothing, which under a stream of data costs more than receiving it.
    if (length >= limit) {
        return;
    }
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    // The caret at the end follows the text, as a terminal does.
    bool follow = start == end && static_cast<LRESULT>(end) >= length;
    LRESULT top = follow ? 0 : SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    if (follow) {
        return;
    }
    // Replacing scrolled the end into view: the selection and the first line
    // shown go back to where the person had them.
    SendMessageW(box, EM_SETSEL, start, static_cast<LPARAM>(end));
    LRESULT now = SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
    if (now != top) {
        SendMessageW(box, EM_LINESCROLL, 0, top - now);
    }
}

// The message goes to the control first, for its own bookkeeping, then to the
// default window procedure, which clears or sets the visible state without
// hiding or showing the window: some edit controls never pass it on.
void SuspendRedraw(HWND box) {
    SendMessageW(box, WM_SETREDRAW, FALSE, 0);
    DefWindowProcW(box, WM_SETREDRAW, FALSE, 0);
}

void ResumeRedraw(HWND box) {
    SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    DefWindowProcW(box, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(box, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
}

void DrawNow(HWND box) {
    RedrawWindow(box, nullptr, nullptr, RDW_UPDATENOW);
}

UINT ReadControlNumber(HWND wnd, int id) {
    return GetDlgItemInt(wnd, id, nullptr, FALSE);
}

void WriteControlNumber(HWND wnd, int id, UINT value) {
    SetDlgItemInt(wnd, id, value, FALSE);
}

int AddListItem(HWND wnd, int id, const wchar_t* text) {
    return static_cast<int>(SendDlgItemMessageW(wnd, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

void SetListItemData(HWND wnd, int id, int index, LPARAM data) {
    SendDlgItemMessageW(wnd, id, LB_SETITEMDATA, static_cast<WPARAM>(index), data);
}

LPARAM GetListItemData(HWND wnd, int id, int index) {
    return SendDlgItemMessageW(wnd, id, LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
}

int GetListCount(HWND wnd, int id) {
    return static_cast<int>(SendDlgItemMessageW(wnd, id, LB_GETCOUNT, 0, 0));
}

int GetListSelection(HWND wnd, int id) {
    return static_cast<int>(SendDlgItemMessageW(wnd, id, LB_GETCURSEL, 0, 0));
}

void DeleteListItem(HWND wnd, int id, int index) {
    SendDlgItemMessageW(wnd, id, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

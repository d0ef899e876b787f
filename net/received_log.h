// The received-text box as one running log of everything that arrives on any
// socket: the waiting client, accepted connections and UDP listeners.
//
// Each chunk received is converted on its own and cut at its first zero byte,
// and a datagram notification's line break follows its datagrams, exactly as
// if every chunk were appended by itself. But the edit control lays out its
// text and redraws its scroll bar on every insertion, which under a stream of
// data costs more than receiving it. So the text is collected, and the log
// posts the window one WM_SHOW_RECEIVED when text waits after an event, at
// most every few tens of milliseconds: the notifications queued ahead of it
// add theirs, and it puts all of it into the box with one insertion and draws
// the box, since under a flood the window system's own paint never comes. The
// box's drawing is suspended only within one insertion, so it is never hidden
// from a person.
#pragma once

#include <windows.h>

#include "platform/memory_block.h"

// Posted by the log to its window when text waits to go into the box.
#define WM_SHOW_RECEIVED (WM_USER + 3)
// The log's timer: the box is drawn once the queue is empty.
const UINT_PTR kReceivedDrawTimer = 0x5752;

// The longest chunk one receive takes: the received text shows at most this
// many bytes of a read, up to its first zero byte.
const int kChunkBytes = 1023;

class ReceivedLog {
public:
    explicit ReceivedLog(HWND wnd) : wnd_(wnd) {}
    ReceivedLog(const ReceivedLog&) = delete;
    ReceivedLog& operator=(const ReceivedLog&) = delete;

    // Whether text added now can still show: the box, with what is collected,
    // is below its limit. Text past the limit would be cut by the box anyway,
    // so it is not converted at all. Asks the box once, then counts what it
    // collects, until Forget: the box may have changed.
    bool HasRoom();
    void Forget() { known_ = false; }

    // n bytes of one receive, converted from the ANSI code page up to the
    // first zero byte.
    void AddChunk(const char* bytes, int n);
    void AddLineBreak();

    // Puts everything collected into the box with one insertion: before a
    // peer is answered, so the text it caused is there first, and before a
    // command acts on the window.
    void Show();

    // After each event: text still collected goes into the box at the log's
    // own WM_SHOW_RECEIVED, posted once, behind the notifications queued now,
    // and the box is drawn then; at most every few tens of milliseconds.
    void AfterEvent();
    // WM_SHOW_RECEIVED: shows what is collected and draws the box.
    void ShowAndDraw();
    // The log's timer, once the queue is empty: the same.
    void DrawOwed();

private:
    // Whether n more characters can be collected, what is collected going
    // into the box first if they would not fit; false when memory is short.
    bool MakeRoom(int n);
    // n characters of zero-terminated text.
    void Add(const wchar_t* text, int n);
    void Insert(const wchar_t* text, int n);
    void Draw();
    HWND Box();

    HWND wnd_;
    HWND box_ = nullptr;
    ZeroedBlock pending_;  // collected text, not yet in the box
    int used_ = 0;
    bool known_ = false;  // boxLength_ and limit_ are the box's as it stands
    LRESULT boxLength_ = 0;
    LRESULT limit_ = 0;
    bool showPosted_ = false;  // a WM_SHOW_RECEIVED is queued
    bool drawOwed_ = false;    // text went in since the box was last drawn
    bool drawTimer_ = false;
    ULONGLONG drawn_ = 0;      // when the box was last drawn
};

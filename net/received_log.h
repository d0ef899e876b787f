// The received-text box as one running log of everything that arrives on any
// socket: the waiting client, accepted connections and UDP listeners.
//
// Each chunk received is converted on its own and cut at its first zero byte,
// and a datagram notification's line break follows its datagrams, exactly as
// if every chunk were appended by itself; but the text is collected and the
// edit control asked to insert it only when someone may look (see Show), and
// the box does not draw while a run of notifications puts text in: it draws
// once, whole, at Flush.
#pragma once

#include <windows.h>

#include "platform/memory_block.h"

// The longest chunk one receive takes: the received text shows at most this
// many bytes of a read, up to its first zero byte.
const int kChunkBytes = 1023;

class ReceivedLog {
public:
    explicit ReceivedLog(HWND wnd) : wnd_(wnd) {}
    ~ReceivedLog() { Flush(); }
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
    // peer is answered, before a person or a command acts on the window, and
    // when the run ends.
    void Show();

    // Shows what is collected and lets the box draw again now. Later
    // insertions suspend the drawing again.
    void Flush();

private:
    // Whether n more characters can be collected, what is collected going
    // into the box first if they would not fit; false when memory is short.
    bool MakeRoom(int n);
    // n characters of zero-terminated text.
    void Add(const wchar_t* text, int n);
    void Insert(const wchar_t* text, int n);
    HWND Box();

    HWND wnd_;
    HWND box_ = nullptr;
    ZeroedBlock pending_;  // collected text, not yet in the box
    int used_ = 0;
    bool known_ = false;  // boxLength_ and limit_ are the box's as it stands
    LRESULT boxLength_ = 0;
    LRESULT limit_ = 0;
    bool suspended_ = false;  // the box's redraw is off until Flush
};

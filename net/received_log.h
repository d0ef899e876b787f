// The received-text box as one running log of everything that arrives on any
// socket: the waiting client, accepted connections and UDP listeners.
//
// Each chunk received is converted on its own and cut at its first zero byte,
// and each datagram notification ends with one CR LF, exactly as if every
// chunk were appended by itself; but the edit control is asked to insert only
// once per Show() (and once per few chunks of a long burst), and the box does
// not draw while a handler is putting text in: it draws once, whole, when the
// handler is done.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "platform/memory_block.h"

// What the last receive of a drain said.
enum class DrainEnd {
    kPeerClosed,      // 0: the peer closed (or an empty datagram)
    kNothingWaiting,  // would block: a live connection with nothing more to read
    kNotConnected,    // the handle is no connection: a listener, or no socket at all
    kFailed,          // any other error: a reset, an abort, a datagram too long
    kChunkLimit,      // stopped after the most chunks one notification reads
};

struct DrainResult {
    bool received = false;  // at least one chunk came
    DrainEnd end = DrainEnd::kChunkLimit;
};

// How a socket of a given type is registered for its notifications, for a
// drain that holds its read notifications back while it reads (see Drain).
struct HoldBack {
    HWND wnd;
    UINT message;
    long events;
    int type;        // SOCK_STREAM or SOCK_DGRAM
    bool fromStart;  // the socket keeps filling up: held back before the first receive
};

// Lives within one handler: what it collects is shown by Show() or, at the
// latest, when it goes; the box draws again when it goes.
class ReceivedLog {
public:
    explicit ReceivedLog(HWND wnd);
    ~ReceivedLog();
    ReceivedLog(const ReceivedLog&) = delete;
    ReceivedLog& operator=(const ReceivedLog&) = delete;

    // Moves what the socket has waiting (at most one notification's worth of
    // chunks) into the log; with addLineBreak, one CR LF follows.
    //
    // Every receive that leaves data waiting makes the platform post another
    // read notification, so a drain of many chunks under a flood queues about
    // as many notifications as it reads, and the queue grows for as long as
    // the flood lasts. With `holdBack`, once a second chunk has come from a
    // socket of its type (or from the start), the socket's read
    // notifications are held back for the rest of the drain (its other
    // events stay registered) and asked for again at its end, which posts at
    // most one if data still waits. A notification that brings one chunk
    // pays for nothing.
    DrainResult Drain(SOCKET s, bool addLineBreak, const HoldBack* holdBack = nullptr);

    // Puts everything collected into the box with one insertion.
    void Show();

    // Shows what is collected and lets the box draw again now, as when the
    // log goes: a person is about to act on the window. Later insertions
    // suspend the drawing again.
    void Flush();

private:
    bool HasRoom() const;
    // n characters of zero-terminated text.
    void Add(const wchar_t* text, int n);
    void Insert(const wchar_t* text);

    HWND box_;
    ZeroedBlock pending_;  // collected text, not yet in the box
    int used_ = 0;
    bool suspended_ = false;  // the box's redraw is off until this log goes
};

// One drain shown at once: everything the socket has waiting, with one CR LF
// after it when addLineBreak is set. Returns true when at least one chunk was
// received.
bool AppendReceived(HWND wnd, SOCKET s, bool addLineBreak);

// The read throttle: when a socket's reads (a TCP listener's accepts) are
// held back, and when they resume. The one place that decides it.
//
// - During a drain. Every receive that leaves data waiting makes the platform
//   post another read notification, so a drain of many chunks would queue
//   about as many notifications as it reads, and the queue would grow for as
//   long as a flood lasts. From a drain's second chunk on, the socket's reads
//   are held back, and from the first receive on in the drains after it; at
//   the drain's end they are asked for again, which posts one read
//   notification if data still waits. So each socket has at most one read
//   queued, and a socket that keeps sending gets one turn a pass over the
//   queue, like any other.
//
// - Behind a person's input. The window system hands out posted messages
//   before input, in the dialog's loop and in the loops it runs itself for a
//   menu, a move of the window or a scroll bar, and under a flood a
//   notification always waits. So after each event, when a person's input
//   waits, the event's socket is held back: the notifications already queued
//   are handled, the queue empties and the input is taken, by whichever loop
//   waits for it. A timer, which the window system hands out only after
//   input, resumes the sockets behind it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "net/traffic.h"

// Whether the socket is held back behind a person's input.
bool ReadsHeldBack(const Traffic& traffic, SOCKET s);

// One drain of a socket. A drain that meets a second chunk holds the socket's
// reads back from there; the socket is then known to keep sending, and its
// next drain holds them back from its first receive, which would otherwise
// post a read of its own beside the one the drain's end posts.
struct Drain {
    SOCKET socket;
    SocketKind kind;
    int chunks;
    bool held;
};
Drain StartDrain(Traffic& traffic, SOCKET s, SocketKind kind);
void NoteChunk(Traffic& traffic, Drain& drain);
// Reads resume unless they are held back behind input.
void EndDrain(Traffic& traffic, Drain& drain);

// After an event on the socket: holds it back if a person's input waits.
// Input is looked for every few milliseconds while nothing is held back, at
// every event while something is; a look that finds none resumes them all.
void KeepInputAhead(Traffic& traffic, SOCKET s, SocketKind kind);
// The resume timer: everything held back behind input resumes.
void ResumeBehindInput(Traffic& traffic);

// The socket is closed: the throttle forgets it.
void ForgetThrottledSocket(Traffic& traffic, SOCKET s);

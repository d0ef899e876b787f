// Conversion between the window's UTF-16 text and the ANSI code page on the wire.
//
// Text in the window is UTF-16; text on the wire is in the system's ANSI code
// page (CP_ACP, flags 0, so characters the code page lacks take its best-fit
// or default character). Each conversion writes into a fresh zero-filled block
// whose trailing zeros terminate the result.
#pragma once

#include <windows.h>

#include "platform/memory_block.h"

struct AnsiText {
    ZeroedBlock block;  // the converted bytes, zero-terminated; false if memory was short
    int bytes = 0;      // how many bytes the conversion produced: what is sent
};

// Converts n UTF-16 characters into a block of 2 x n + 2 bytes, which holds
// every character of a single- or double-byte code page. Where the code page
// needs more (a UTF-8 system code page), the block grows to what the
// conversion needs, so no text is silently dropped and the terminator stays.
AnsiText ConvertToAnsi(const wchar_t* text, int n);

// Converts n bytes of the ANSI code page into `out`, which holds n + 1 UTF-16
// characters: n bytes never produce more than n characters. Returns how many
// it produced, and terminates them.
int ConvertFromAnsi(const char* bytes, int n, wchar_t* out);

// Waiting in tests: pump the thread's messages until something has happened or
// a deadline passes. Never sleep for ordering.
#pragma once

#include <windows.h>

#include <functional>

// Dispatches messages (dialog messages through IsDialogMessage) until done()
// is true or timeoutMs has passed; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// Dispatches messages for ms milliseconds: a quiet period in which nothing
// more should arrive.
void PumpFor(DWORD ms);

// The server side: TCP and UDP listeners on 127.0.0.1. The listener list box is
// the only record of open listeners; each row holds its socket as item data.
#pragma once

#include <windows.h>

void AddListener(HWND wnd, bool useTcp);

// all false: the selected listener only (nothing when none is selected).
void RemoveListeners(HWND wnd, bool all);

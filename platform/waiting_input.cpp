#include "platform/waiting_input.h"

bool InputWaiting() {
    // What is in the queue now, input seen but not yet taken included.
    return (HIWORD(GetQueueStatus(QS_INPUT)) & QS_INPUT) != 0;
}

bool DialogRunning(HWND dialog) {
    // Ending a modal dialog hides it; its loop ends at its next message.
    return IsWindow(dialog) && IsWindowVisible(dialog);
}

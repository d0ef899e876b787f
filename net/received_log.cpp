#include "net/received_log.h"

#include "platform/controls.h"
#include "platform/text_codec.h"
#include "resources/resource.h"

namespace {

// What is collected before it goes into the box: a few chunks' worth, so a
// burst that fills the box takes a handful of insertions and little memory.
const int kPendingCharacters = 8 * 1024;
// What is collected goes into the box, and the box is drawn, at most this
// often: a person reads no faster, and under some window systems an insertion
// and a draw each cost more than a request does.
const ULONGLONG kDrawMilliseconds = 40;

}  // namespace

HWND ReceivedLog::Box() {
    if (!box_) {
        box_ = GetDlgItem(wnd_, IDC_RECV_TEXT);
    }
    return box_;
}

bool ReceivedLog::HasRoom() {
    if (!known_) {
        boxLength_ = SendMessageW(Box(), WM_GETTEXTLENGTH, 0, 0);
        limit_ = SendMessageW(Box(), EM_GETLIMITTEXT, 0, 0);
        known_ = true;
    }
    return limit_ > boxLength_ + used_;
}

bool ReceivedLog::MakeRoom(int n) {
    if (!pending_) {
        pending_ = AllocateWideText(kPendingCharacters);
    }
    if (pending_ && used_ + n > kPendingCharacters) {
        Show();
    }
    return static_cast<bool>(pending_);
}

void ReceivedLog::AddChunk(const char* bytes, int n) {
    // Shown up to the first zero byte, converted straight into what is
    // collected.
    int shown = 0;
    while (shown < n && bytes[shown] != '\0') {
        ++shown;
    }
    if (shown == 0) {
        return;
    }
    if (!MakeRoom(shown)) {
        // Memory is short: no collecting, the chunk goes in by itself.
        wchar_t text[kChunkBytes + 1];
        int converted = ConvertFromAnsi(bytes, shown < kChunkBytes ? shown : kChunkBytes, text);
        Insert(text, converted);
        return;
    }
    used_ += ConvertFromAnsi(bytes, shown, pending_.Wide() + used_);
}

void ReceivedLog::AddLineBreak() {
    Add(L"\r\n", 2);
}

void ReceivedLog::Add(const wchar_t* text, int n) {
    if (n <= 0) {
        return;
    }
    if (!MakeRoom(n)) {
        Insert(text, n);  // memory is short: no collecting, each piece goes in by itself
        return;
    }
    CopyMemory(pending_.Wide() + used_, text, static_cast<SIZE_T>(n) * sizeof(wchar_t));
    used_ += n;
}

void ReceivedLog::Show() {
    if (used_ == 0 || !pending_) {
        return;
    }
    int n = used_;
    // Counted out before inserting: the box tells the window of its change,
    // and whatever that runs must find nothing left to show.
    used_ = 0;
    pending_.Wide()[n] = L'\0';
    Insert(pending_.Wide(), n);
}

void ReceivedLog::Insert(const wchar_t* text, int n) {
    HWND box = Box();
    // Hidden from drawing for this one insertion only, within this message:
    // no paint can come in between, and a person's place is put back before
    // anything is drawn.
    SuspendRedraw(box);
    if (known_) {
        // The box takes what fits below its limit and cuts the rest.
        AppendToTextBoxAt(box, boxLength_, limit_, text);
        boxLength_ = boxLength_ + n < limit_ ? boxLength_ + n : limit_;
    } else {
        AppendToTextBox(box, text);
    }
    ResumeRedraw(box);
    drawOwed_ = true;
}

void ReceivedLog::AfterEvent() {
    if (used_ == 0 && !drawOwed_) {
        return;
    }
    if (GetTickCount64() - drawn_ < kDrawMilliseconds) {
        // Shown a moment ago. Under load a later event comes first; when the
        // queue is empty, this timer does (the window system hands a timer
        // out only when no message waits).
        if (!drawTimer_) {
            drawTimer_ = SetTimer(wnd_, kReceivedDrawTimer, static_cast<UINT>(kDrawMilliseconds), nullptr) != 0;
        }
        return;
    }
    if (!showPosted_) {
        showPosted_ = PostMessageW(wnd_, WM_SHOW_RECEIVED, 0, 0) != FALSE;
        if (!showPosted_) {
            ShowAndDraw();  // the queue is full: nothing waits for a message that cannot come
        }
    }
}

void ReceivedLog::ShowAndDraw() {
    showPosted_ = false;
    Show();
    if (drawOwed_) {
        Draw();
    }
}

void ReceivedLog::DrawOwed() {
    if (drawTimer_) {
        KillTimer(wnd_, kReceivedDrawTimer);
        drawTimer_ = false;
    }
    ShowAndDraw();
}

void ReceivedLog::Draw() {
    drawOwed_ = false;
    drawn_ = GetTickCount64();
    DrawNow(Box());
}

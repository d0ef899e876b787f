// The window-system operations the rest of the program shares: reading and
// writing the text boxes, numbers and the listener list of the main window.
//
// Each routine takes the window and a control identifier and does exactly one
// platform operation, so that every part of the program touches the controls
// the same way (for instance, appending always selects the end first).
#pragma once

#include <windows.h>

// Number of UTF-16 characters in the control, CR LF counting as two.
int GetControlTextLength(HWND wnd, int id);

// Copies at most capacity - 1 characters and a terminator; returns how many
// characters were copied (0 for an empty box).
int ReadControlText(HWND wnd, int id, wchar_t* buffer, int capacity);

// Replaces the whole text; null empties the box.
void SetControlText(HWND wnd, int id, const wchar_t* text);
void ClearControl(HWND wnd, int id);

// Adds text after whatever the box holds, whatever the user had selected.
// A caret at the end (nothing selected) follows the text, and the box shows
// the end; otherwise the person's selection and the lines shown stay as they
// were, so text can be read and copied while more arrives. Obeys the box's
// text limit, which the program leaves at the platform's default: what would
// go beyond it is cut off, and nothing is added to a full box.
void AppendToTextBox(HWND box, const wchar_t* text);
// The same for a box known to hold `length` characters under a limit of
// `limit`, as its one writer counts them: nothing is asked of it again.
void AppendToTextBoxAt(HWND box, LRESULT length, LRESULT limit, const wchar_t* text);

// Under some window systems an edit control that is shown spends
// milliseconds on every insertion, redrawing its scroll bar and scrolling at
// once, and shows the end before a person's place is put back. Between these
// two calls, within one insertion, the box takes the text but draws nothing;
// ResumeRedraw marks it whole, frame and scroll bar included, to be drawn.
void SuspendRedraw(HWND box);
void ResumeRedraw(HWND box);
// Draws what is marked to be drawn in the box now: under a steady stream the
// window is never idle, so the paint the window system would send then never
// comes.
void DrawNow(HWND box);

// Leading blanks skipped, decimal digits read as an unsigned 32-bit value; 0
// when there is no number or it is beyond 32 bits.
UINT ReadControlNumber(HWND wnd, int id);
void WriteControlNumber(HWND wnd, int id, UINT value);

// The listener list. AddListItem returns the new index, or a negative value
// when the list has no room.
int AddListItem(HWND wnd, int id, const wchar_t* text);
void SetListItemData(HWND wnd, int id, int index, LPARAM data);
LPARAM GetListItemData(HWND wnd, int id, int index);
int GetListCount(HWND wnd, int id);
int GetListSelection(HWND wnd, int id);  // LB_ERR (-1) when nothing is selected
void DeleteListItem(HWND wnd, int id, int index);

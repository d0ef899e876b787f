#include "templates/http_templates.h"

void InsertHttpRequest(HWND wnd, bool usePost) {
    (void)wnd;
    (void)usePost;
}

void InsertHtmlReply(HWND wnd) {
    (void)wnd;
}

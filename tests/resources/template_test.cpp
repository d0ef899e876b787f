// The main window's template as built: the contract every satellite and every
// outside driver relies on.
#include <gtest/gtest.h>
#include <windows.h>

#include "blackbox/harness.h"
#include "resources/resource.h"
#include "support/dialog_template.h"

namespace {

struct Expected {
    int id;
    const wchar_t* className;
    const wchar_t* caption;
    short x, y, cx, cy;
    DWORD style;
};

const DWORD kGroup = 0x50000007, kLabel = 0x50020000, kButton = 0x50010000;
const DWORD kLineEdit = 0x50810080, kPortEdit = 0x50812080, kTextEdit = 0x50A11004, kRecvEdit = 0x50A10804,
            kList = 0x50A10100;

const Expected kControls[] = {
    {65535, L"Button", L"發放訊息", 6, 7, 274, 136, kGroup},
    {65535, L"Static", L"主機", 15, 19, 17, 8, kLabel},
    {IDC_HOST, L"Edit", L"", 35, 17, 159, 12, kLineEdit},
    {65535, L"Static", L"連接阜", 208, 19, 25, 8, kLabel},
    {IDC_PORT, L"Edit", L"", 236, 17, 28, 12, kPortEdit},
    {IDC_SEND_TEXT, L"Edit", L"", 15, 34, 256, 68, kTextEdit},
    {IDC_INSERT_GET, L"Button", L"插入 &GET 碼", 15, 107, 85, 15, kButton},
    {IDC_INSERT_POST, L"Button", L"插入 &POST 碼 ", 101, 107, 85, 15, kButton},
    {IDC_CLEAR_SEND, L"Button", L"清除", 187, 107, 85, 15, kButton},
    {IDC_SEND_TCP_WAIT, L"Button", L"發放 TCP 並等待回覆", 15, 123, 85, 15, kButton},
    {IDC_SEND_TCP_NOWAIT, L"Button", L"發放 TCP 不等待回覆", 101, 123, 85, 15, kButton},
    {IDC_SEND_UDP, L"Button", L"發放 UDP", 187, 123, 85, 15, kButton},
    {65535, L"Button", L"收入訊息", 6, 147, 274, 106, kGroup},
    {IDC_RECV_TEXT, L"Edit", L"", 15, 162, 256, 68, kRecvEdit},
    {IDC_CLEAR_RECV, L"Button", L"清除", 187, 234, 85, 15, kButton},
    {65535, L"Button", L"新增監察", 289, 7, 184, 136, kGroup},
    {65535, L"Static", L"連接阜", 343, 19, 25, 8, kLabel},
    {IDC_LISTEN_PORT, L"Edit", L"", 371, 17, 28, 12, kPortEdit},
    {IDC_LISTENERS, L"ListBox", L"", 297, 34, 170, 68, kList},
    {IDC_ADD_TCP_LISTENER, L"Button", L"新增 &TCP 監察", 297, 107, 85, 15, kButton},
    {IDC_ADD_UDP_LISTENER, L"Button", L"新增 &UDP 監察", 383, 107, 85, 15, kButton},
    {IDC_REMOVE_LISTENER, L"Button", L"移除監察(&R)", 297, 123, 85, 15, kButton},
    {IDC_REMOVE_ALL_LISTENERS, L"Button", L"移除所有監察(&A)", 383, 123, 85, 15, kButton},
    {65535, L"Button", L"回覆訊息", 289, 147, 184, 106, kGroup},
    {IDC_REPLY_TEXT, L"Edit", L"", 297, 162, 170, 68, kTextEdit},
    {IDC_INSERT_HTML_REPLY, L"Button", L"插入 &HTML 回覆", 297, 234, 85, 15, kButton},
    {IDC_CLEAR_REPLY, L"Button", L"清除", 383, 234, 85, 15, kButton},
};

void ExpectLayout(const DialogTemplate& t, bool captions) {
    ASSERT_TRUE(t.found);
    ASSERT_FALSE(t.extended);
    EXPECT_EQ(t.style, 0x90CA0AC0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.cx, 480);
    EXPECT_EQ(t.cy, 263);
    EXPECT_FALSE(t.hasMenu);
    EXPECT_FALSE(t.hasClass);
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.font, L"MS Shell Dlg");
    ASSERT_EQ(t.items.size(), std::size(kControls));
    for (size_t i = 0; i < t.items.size(); ++i) {
        const DialogItem& item = t.items[i];
        const Expected& want = kControls[i];
        SCOPED_TRACE("control #" + std::to_string(i));
        EXPECT_EQ(item.id, want.id);
        // Resource compilers store the predefined classes as atoms or as
        // names; the window manager matches names without regard to case.
        EXPECT_EQ(lstrcmpiW(item.className.c_str(), want.className), 0) << "class " << std::string(item.className.begin(), item.className.end());
        EXPECT_EQ(item.style, want.style);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        if (captions) {
            EXPECT_EQ(item.caption, want.caption);
        } else if (*want.caption == 0) {
            EXPECT_EQ(item.caption, L"");  // text boxes start empty in every language
        } else {
            EXPECT_NE(item.caption, L"");
            EXPECT_NE(item.caption, want.caption) << "an untranslated caption";
        }
    }
}

TEST(MainTemplate, HasTheWindowsControlsInTabOrderWithTheirCaptions) {
    DialogTemplate t = ReadDialogTemplate(GetModuleHandleW(nullptr), IDD_MAIN);
    EXPECT_EQ(t.language, 0x0C04);
    EXPECT_EQ(t.title, L"網路檢視");
    ExpectLayout(t, true);
}

TEST(MainTemplate, EnglishSatelliteHasTheSameLayoutWithTranslatedCaptions) {
    std::wstring path = BuildFile(L"en\\wirepad.exe.mui");
    HMODULE satellite = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(satellite, nullptr);
    DialogTemplate t = ReadDialogTemplate(satellite, IDD_MAIN);
    EXPECT_EQ(t.title, L"Network View");
    ExpectLayout(t, false);
    // Only the window comes from the satellite: no icon of its own.
    EXPECT_EQ(FindResourceW(satellite, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON), nullptr);
    FreeLibrary(satellite);
}

}  // namespace

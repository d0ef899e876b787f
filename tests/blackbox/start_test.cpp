// The real wirepad.exe, started and driven from this process: how it starts,
// which window it shows, and how it ends.
#include <gtest/gtest.h>

#include "blackbox/harness.h"
#include "resources/resource.h"

namespace {

TEST(Blackbox, OpensTheChineseWindowInItsInitialStateAndEscapeEndsItWithCode0) {
    WirepadProcess app;
    ASSERT_TRUE(app.Start());
    ASSERT_NE(app.WaitForWindow(), nullptr);
    EXPECT_EQ(app.Title(), L"網路檢視");
    EXPECT_EQ(app.Text(IDC_PORT), L"80");
    EXPECT_EQ(app.Text(IDC_LISTEN_PORT), L"80");
    EXPECT_EQ(app.Text(IDC_HOST), L"");
    EXPECT_EQ(app.Text(IDC_RECV_TEXT), L"");
    EXPECT_TRUE(app.ListItems(IDC_LISTENERS).empty());
    EXPECT_EQ(app.Text(IDC_INSERT_POST), L"插入 &POST 碼 ");
    app.SetText(IDC_SEND_TEXT, L"hello");
    app.Click(IDC_CLEAR_SEND);
    EXPECT_EQ(app.Text(IDC_SEND_TEXT), L"");
    app.PressEscape();
    EXPECT_EQ(app.WaitExit(), 0);
}

TEST(Blackbox, CloseBoxEndsItWithCode0) {
    WirepadProcess app;
    ASSERT_TRUE(app.Start());
    ASSERT_NE(app.WaitForWindow(), nullptr);
    app.PressCloseBox();
    EXPECT_EQ(app.WaitExit(), 0);
}

// A copy of the program in a folder of its own, with what the test puts
// beside it as wirepad.exe.mui.
std::wstring CopyProgram(const std::wstring& tag) {
    std::wstring dir = MakeTempFolder(tag);
    EXPECT_FALSE(dir.empty());
    EXPECT_TRUE(CopyInto(ProgramFile(L"wirepad.exe"), dir + L"wirepad.exe"));
    return dir;
}

TEST(BlackboxSatellite, EnglishSatelliteTranslatesTheWindowButTheIconStaysTheExecutables) {
    std::wstring dir = CopyProgram(L"en");
    ASSERT_TRUE(CopyInto(ProgramFile(L"en\\wirepad.exe.mui"), dir + L"wirepad.exe.mui"));
    WirepadProcess app;
    ASSERT_TRUE(app.Start(dir + L"wirepad.exe"));
    ASSERT_NE(app.WaitForWindow(), nullptr);
    EXPECT_EQ(app.Title(), L"Network View");
    EXPECT_EQ(app.Text(IDC_PORT), L"80");
    app.PressEscape();
    EXPECT_EQ(app.WaitExit(), 0);
}

TEST(BlackboxSatellite, AFileThatIsNotAModuleGivesTheExecutablesOwnWindow) {
    std::wstring dir = CopyProgram(L"junk");
    ASSERT_TRUE(WriteWholeFile(dir + L"wirepad.exe.mui", "this is not a module\n"));
    WirepadProcess app;
    ASSERT_TRUE(app.Start(dir + L"wirepad.exe"));
    ASSERT_NE(app.WaitForWindow(), nullptr);
    EXPECT_EQ(app.Title(), L"網路檢視");
    app.PressEscape();
    EXPECT_EQ(app.WaitExit(), 0);
}

TEST(BlackboxSatellite, ASatelliteWithoutTheWindowGivesTheExecutablesOwnWindow) {
    std::wstring dir = CopyProgram(L"nodlg");
    ASSERT_TRUE(CopyInto(BuildFile(L"tests\\no_dialog_module.dll"), dir + L"wirepad.exe.mui"));
    WirepadProcess app;
    ASSERT_TRUE(app.Start(dir + L"wirepad.exe"));
    ASSERT_NE(app.WaitForWindow(), nullptr);
    EXPECT_EQ(app.Title(), L"網路檢視");
    EXPECT_EQ(app.Text(IDC_PORT), L"80");
    app.PressEscape();
    EXPECT_EQ(app.WaitExit(), 0);
}

}  // namespace

// Which module the window's template comes from: a ".mui" satellite beside the
// executable, or the executable itself. Runs in its own test executable, whose
// own path is the one probed.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "blackbox/harness.h"
#include "support/main_window_fixture.h"

namespace {

std::wstring OwnSatellitePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path) + L".mui";
}

class ResourceModule : public ::testing::Test {
protected:
    void TearDown() override { DeleteFileW(OwnSatellitePath().c_str()); }
};

TEST_F(ResourceModule, IsTheExecutableWhenNoSatelliteStandsBesideIt) {
    DeleteFileW(OwnSatellitePath().c_str());
    EXPECT_EQ(GetResourceModule(), GetModuleHandleW(nullptr));
}

TEST_F(ResourceModule, IsTheExecutableWhenTheSatelliteIsNotAModule) {
    ASSERT_TRUE(WriteWholeFile(OwnSatellitePath(), std::string(4096, 'x')));
    EXPECT_EQ(GetResourceModule(), GetModuleHandleW(nullptr));
}

TEST_F(ResourceModule, SatelliteSuppliesTheWindowAndTheExecutableTheIcon) {
    ASSERT_TRUE(CopyInto(BuildFile(L"en\\wirepad.exe.mui"), OwnSatellitePath()));
    HMODULE module = GetResourceModule();
    ASSERT_NE(module, nullptr);
    ASSERT_NE(module, GetModuleHandleW(nullptr));
    HWND wnd = CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDlgProc, 0);
    ASSERT_NE(wnd, nullptr);
    wchar_t title[64] = {};
    GetWindowTextW(wnd, title, 64);
    EXPECT_STREQ(title, L"Network View");
    EXPECT_EQ(GetDlgItemInt(wnd, IDC_PORT, nullptr, FALSE), 80u);
    HICON exeIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(wnd, WM_GETICON, ICON_BIG, 0)), exeIcon);
    DestroyWindow(wnd);
    FreeLibrary(module);  // the program keeps it mapped; the test must delete the file
}

}  // namespace

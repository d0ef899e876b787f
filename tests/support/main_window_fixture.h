// A real main window, made from the real template by the real procedure, as a
// modeless dialog the test can drive and inspect on its own thread.
#pragma once

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>

#include "app/main_window.h"
#include "resources/resource.h"
#include "support/message_pump.h"

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        wnd_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDlgProc, 0);
        ASSERT_NE(wnd_, nullptr) << "error " << GetLastError();
    }
    void TearDown() override {
        if (wnd_ && IsWindow(wnd_)) {
            DestroyWindow(wnd_);
        }
        PumpFor(0);
    }

    HWND Control(int id) const { return GetDlgItem(wnd_, id); }

    std::wstring Text(int id) const {
        int n = static_cast<int>(SendDlgItemMessageW(wnd_, id, WM_GETTEXTLENGTH, 0, 0));
        std::wstring s(static_cast<size_t>(n) + 1, L'\0');
        GetDlgItemTextW(wnd_, id, s.data(), n + 1);
        s.resize(static_cast<size_t>(n));
        return s;
    }
    void SetText(int id, const std::wstring& text) const { SetDlgItemTextW(wnd_, id, text.c_str()); }
    void Command(WPARAM command) const { SendMessageW(wnd_, WM_COMMAND, command, 0); }
    void Click(int id) const { Command(MAKEWPARAM(id, BN_CLICKED)); }

    HWND wnd_ = nullptr;
};

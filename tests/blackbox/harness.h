// The black-box harness: starts the real wirepad.exe and drives it from this
// (another) process by window messages, the way a user's clicks and typing
// reach it: find the window, set text, click buttons, read text and list rows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A file of the build, given relative to the build folder (tests run from
// its tests folder), as a Windows path.
std::wstring BuildFile(const std::wstring& relative);

// A file of the program under test (wirepad.exe, en\wirepad.exe.mui), given
// relative to the folder that holds it: the build folder, or the folder that
// WIREPAD_PROGRAM_DIR names (absolute or relative to the build folder, with
// either slash), so that the same tests run on a program built another way.
std::wstring ProgramFile(const std::wstring& relative);

// A new, empty folder of the test's own under the temporary folder.
std::wstring MakeTempFolder(const std::wstring& tag);
bool CopyInto(const std::wstring& source, const std::wstring& target);
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
std::string ReadWholeFile(const std::wstring& path);

class WirepadProcess {
public:
    WirepadProcess() = default;
    ~WirepadProcess();
    WirepadProcess(const WirepadProcess&) = delete;
    WirepadProcess& operator=(const WirepadProcess&) = delete;

    // Starts the executable at `exe` (the program under test when empty).
    bool Start(const std::wstring& exe = L"");

    // The process's main window, waited for up to timeoutMs; null if none.
    HWND WaitForWindow(DWORD timeoutMs = 20000);
    HWND Window() const { return window_; }
    HWND Control(int id) const { return GetDlgItem(window_, id); }

    std::wstring Title() const;
    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text) const;
    void Click(int id) const;                       // as a mouse click on the button
    std::vector<std::wstring> ListItems(int id) const;

    void PressEscape() const;  // Escape in the host field
    void PressCloseBox() const;

    // Waits for the process to end; its exit code, or -1 after timeoutMs.
    long WaitExit(DWORD timeoutMs = 20000);
    bool Running() const;
    DWORD Id() const { return info_.dwProcessId; }

private:
    PROCESS_INFORMATION info_{};
    HWND window_ = nullptr;
};

std::wstring WindowText(HWND wnd);

#include "blackbox/harness.h"

#include "resources/resource.h"
#include "support/message_pump.h"

namespace {

const DWORD kMessageTimeout = 10000;

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path);
    return s.substr(0, s.find_last_of(L"\\/") + 1);
}

struct FindState {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND wnd, LPARAM param) {
    auto* state = reinterpret_cast<FindState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(wnd, cls, 16);
    // Visible only once its initialisation has run: a test that sets fields
    // before that would see them reset.
    if (pid == state->pid && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(wnd)) {
        state->found = wnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::wstring BuildFile(const std::wstring& relative) {
    return ExeFolder() + L"..\\" + relative;
}

std::wstring ProgramFile(const std::wstring& relative) {
    DWORD size = GetEnvironmentVariableW(L"WIREPAD_PROGRAM_DIR", nullptr, 0);
    if (size <= 1) {
        return BuildFile(relative);
    }
    std::wstring folder(size, L'\0');
    folder.resize(GetEnvironmentVariableW(L"WIREPAD_PROGRAM_DIR", folder.data(), size));
    for (wchar_t& c : folder) {
        c = c == L'/' ? L'\\' : c;
    }
    folder += L"\\";
    bool absolute = folder[0] == L'\\' || folder[1] == L':';
    return absolute ? folder + relative : BuildFile(folder + relative);
}

std::wstring MakeTempFolder(const std::wstring& tag) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    for (int i = 0; i < 1000; ++i) {
        std::wstring dir = std::wstring(temp) + L"wirepad-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) +
                           L"-" + std::to_wstring(i);
        if (CreateDirectoryW(dir.c_str(), nullptr)) {
            return dir + L"\\";
        }
    }
    return {};
}

bool CopyInto(const std::wstring& source, const std::wstring& target) {
    return CopyFileW(source.c_str(), target.c_str(), FALSE) != 0;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadWholeFile(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

WirepadProcess::~WirepadProcess() {
    if (info_.hProcess) {
        if (Running()) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

bool WirepadProcess::Start(const std::wstring& exe) {
    std::wstring path = exe.empty() ? ProgramFile(L"wirepad.exe") : exe;
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    return CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info_) != 0;
}

HWND WirepadProcess::WaitForWindow(DWORD timeoutMs) {
    FindState state{info_.dwProcessId, nullptr};
    PumpUntil(
        [&] {
            EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&state));
            return state.found != nullptr || !Running();
        },
        timeoutMs);
    window_ = state.found;
    return window_;
}

std::wstring WindowText(HWND wnd) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kMessageTimeout, &length);
    std::wstring s(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(wnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(s.data()), SMTO_NORMAL,
                        kMessageTimeout, &copied);
    s.resize(copied);
    return s;
}

std::wstring WirepadProcess::Title() const {
    return WindowText(window_);
}

std::wstring WirepadProcess::Text(int id) const {
    return WindowText(Control(id));
}

void WirepadProcess::SetText(int id, const std::wstring& text) const {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                        kMessageTimeout, &ignored);
}

void WirepadProcess::Click(int id) const {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(Control(id), BM_CLICK, 0, 0, SMTO_NORMAL, kMessageTimeout, &ignored);
}

std::vector<std::wstring> WirepadProcess::ListItems(int id) const {
    std::vector<std::wstring> items;
    HWND list = Control(id);
    DWORD_PTR count = 0;
    SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, kMessageTimeout, &count);
    for (DWORD_PTR i = 0; i < count && static_cast<LONG_PTR>(count) > 0; ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_NORMAL, kMessageTimeout, &length);
        std::wstring s(length + 1, L'\0');
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(s.data()), SMTO_NORMAL, kMessageTimeout,
                            &copied);
        s.resize(static_cast<LONG_PTR>(copied) > 0 ? copied : 0);
        items.push_back(s);
    }
    return items;
}

void WirepadProcess::PressEscape() const {
    HWND host = Control(IDC_HOST);
    PostMessageW(host, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(host, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void WirepadProcess::PressCloseBox() const {
    PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

long WirepadProcess::WaitExit(DWORD timeoutMs) {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
}

bool WirepadProcess::Running() const {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

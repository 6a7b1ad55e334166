// Process start: the child sees the show-window state and the exact command
// line, including a quoted path with CJK and blanks; a missing program is
// reported, not fatal. Run with "report FILE" the program is the child.
#include "check.h"
#include "win32core.h"

#include <fstream>
#include <string>
#include <windows.h>

namespace {

// The child writes what it was started with: flags, show state, command line.
int report(const wchar_t* file) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const std::wstring line = std::to_wstring(startup.dwFlags & STARTF_USESHOWWINDOW) + L" " +
                              std::to_wstring(startup.wShowWindow) + L" " + GetCommandLineW();
    const std::wstring partial = std::wstring(file) + L".partial";
    HANDLE out = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(out, line.data(), DWORD(line.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(out);
    MoveFileW(partial.c_str(), file);
    return 0;
}

std::wstring waitForReport(const std::wstring& file) {
    for (int i = 0; i < 200; ++i) {
        HANDLE in = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
        if (in != INVALID_HANDLE_VALUE) {
            wchar_t buffer[2048] = {};
            DWORD got = 0;
            ReadFile(in, buffer, sizeof buffer - sizeof(wchar_t), &got, nullptr);
            CloseHandle(in);
            return std::wstring(buffer, got / sizeof(wchar_t));
        }
        Sleep(50);
    }
    return L"(no report)";
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc == 3 && std::wstring(argv[1]) == L"report") {
        return report(argv[2]);
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"奎尔 测试 目录";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring child = dir + L"\\子 程序.exe";
    check::that(CopyFileW(argv[0], child.c_str(), FALSE) != 0, "the child is in place");

    struct Case {
        int show;
        const wchar_t* name;
    };
    for (const Case c : {Case{SW_SHOWNORMAL, L"normal"}, Case{SW_SHOWMINIMIZED, L"minimized"}}) {
        const std::wstring file = dir + L"\\report-" + c.name + L".txt";
        DeleteFileW(file.c_str());
        const std::wstring commandLine = L"\"" + child + L"\" report \"" + file + L"\"";
        check::that(win32::startProcess(commandLine, c.show) == 0, "the child starts");
        const std::wstring seen = waitForReport(file);
        check::that(seen == L"1 " + std::to_wstring(c.show) + L" " + commandLine,
                    "the child sees STARTF_USESHOWWINDOW, the state and the exact command line");
    }
    check::that(win32::startProcess(L"C:\\no such dir\\no such program.exe", SW_SHOWNORMAL) != 0,
                "a missing program is reported");
    check::that(win32::startProcess(L"", SW_SHOWNORMAL) != 0, "an empty command line is reported");
    return check::result();
}

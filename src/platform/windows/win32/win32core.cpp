#include "win32core.h"

#include <windows.h>

namespace win32 {
namespace {

HKEY handle(Key key) {
    return reinterpret_cast<HKEY>(key);
}

} // namespace

long openKey(Key root, const char* path, std::uint32_t options, std::uint32_t access, Key* opened) {
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExA(handle(root), path, options, access, &key);
    *opened = reinterpret_cast<Key>(key);
    return status;
}

long queryValue(Key key, const char* name, std::uint32_t* type, unsigned char* data,
                std::uint32_t* size) {
    DWORD valueType = 0;
    DWORD valueSize = *size;
    const LONG status = RegQueryValueExA(handle(key), name, nullptr, &valueType, data, &valueSize);
    *type = valueType;
    *size = valueSize;
    return status;
}

long closeKey(Key key) {
    return RegCloseKey(handle(key));
}

unsigned long startProcess(const std::wstring& commandLine, int showWindow) {
    if (commandLine.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    // CreateProcessW may write into the command line, so it gets a copy.
    std::wstring buffer = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = WORD(showWindow);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return GetLastError();
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}

} // namespace win32

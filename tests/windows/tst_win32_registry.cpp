// The registry reader against Wine's registry: the values it sets up itself
// under HKEY_LOCAL_MACHINE, read back through the Win32 core.
#include "check.h"
#include "win32core.h"

#include <string>
#include <windows.h>
#include <winternl.h>

namespace {

constexpr char testKey[] = "SOFTWARE\\Quelvix Test";
constexpr std::uint32_t keyRead = 0x20019;

void setUp() {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, testKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    const std::string path = "C:\\Program Files\\Tools\\MSINFO32.EXE";
    RegSetValueExA(key, "PATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   DWORD(path.size() + 1));
    // With its NUL, exactly the 1024-byte buffer, and one byte more.
    const std::string full(1023, 'a');
    RegSetValueExA(key, "Full", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.c_str()), 1024);
    const std::string over(1024, 'b');
    RegSetValueExA(key, "Over", 0, REG_SZ, reinterpret_cast<const BYTE*>(over.c_str()), 1025);
    const DWORD number = 256;
    RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    RegCloseKey(key);
}

// What the system granted for a handle, whatever was asked: Wine does not
// enforce access masks, but it records them.
ACCESS_MASK grantedAccess(win32::Key key) {
    PUBLIC_OBJECT_BASIC_INFORMATION info{};
    ULONG length = 0;
    NtQueryObject(reinterpret_cast<HANDLE>(key), ObjectBasicInformation, &info, sizeof info,
                  &length);
    return info.GrantedAccess;
}

struct Read {
    long status;
    std::uint32_t type;
    std::uint32_t size;
    std::string data;
};

Read read(win32::Key key, const char* name) {
    unsigned char buffer[1024] = {};
    Read result{0, 0, sizeof buffer, {}};
    result.status = win32::queryValue(key, name, &result.type, buffer, &result.size);
    if (result.status == 0) {
        result.data.assign(reinterpret_cast<const char*>(buffer), result.size);
    }
    return result;
}

} // namespace

int wmain() {
    setUp();
    const win32::Key hklm = win32::predefinedRoot(0x80000002);
    DWORD handlesBefore = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);

    win32::Key key = 0;
    check::that(win32::openKey(hklm, testKey, 0, keyRead, &key) == 0, "the key opens");
    check::that(grantedAccess(key) == keyRead, "access asked and granted is KEY_READ");

    const Read path = read(key, "PATH");
    check::that(path.status == 0 && path.type == REG_SZ, "REG_SZ is read");
    check::that(path.data == std::string("C:\\Program Files\\Tools\\MSINFO32.EXE") + '\0',
                "REG_SZ data with its NUL");
    const Read full = read(key, "Full");
    check::that(full.status == 0 && full.size == 1024 && full.data == std::string(1023, 'a') + '\0',
                "1024 bytes fill the buffer exactly");
    const Read over = read(key, "Over");
    check::that(over.status == ERROR_MORE_DATA && over.size == 1025,
                "one byte over: ERROR_MORE_DATA and the size needed");
    const Read number = read(key, "Number");
    check::that(number.status == 0 && number.type == REG_DWORD && number.size == 4 &&
                    *reinterpret_cast<const DWORD*>(number.data.data()) == 256,
                "REG_DWORD 256 is read");
    check::that(read(key, "Missing").status == ERROR_FILE_NOT_FOUND, "a missing value");
    check::that(win32::closeKey(key) == 0, "the key closes");

    win32::Key missing = 0;
    check::that(win32::openKey(hklm, "SOFTWARE\\Quelvix Test\\No Such Key", 0, keyRead, &missing) ==
                    ERROR_FILE_NOT_FOUND,
                "a missing key");
    DWORD handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    check::that(handlesAfter == handlesBefore, "every opened key is closed");
    return check::result();
}

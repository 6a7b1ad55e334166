// The pure pieces: the sign-extended registry root and the explorer.exe
// command line, which must refuse anything that could break its quoting.
#include "check.h"
#include "commandlines.h"

int wmain() {
    check::that(win32::predefinedRoot(0x80000002) == std::uintptr_t(0xFFFFFFFF80000002ull),
                "HKEY_LOCAL_MACHINE is sign-extended to 64 bits");
    check::that(win32::predefinedRoot(0x80000001) == std::uintptr_t(0xFFFFFFFF80000001ull),
                "HKEY_CURRENT_USER is sign-extended to 64 bits");
    check::that(win32::explorerCommandLine(L"http://127.0.0.1:27380/soso/exe.htm") ==
                    std::wstring(L"explorer.exe \"http://127.0.0.1:27380/soso/exe.htm\""),
                "explorer.exe, a blank and the quoted address");
    const wchar_t* refused[] = {L"",
                                L"http://x/a\"b",
                                L"http://x/a\" & calc \"",
                                L"http://x/\r\nb",
                                L"http://x/\tb",
                                L"http://x/\x7f",
                                L"http://x/\x85"};
    for (const wchar_t* address : refused) {
        check::that(!win32::explorerCommandLine(address),
                    "an address that breaks quoting is refused");
    }
    return check::result();
}

// Hands the address to explorer.exe as the app does; the driver script checks
// what the default browser (a recording stand-in) received.
#include "win32core.h"

#include <cstdio>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        return 2;
    }
    const auto commandLine = win32::explorerCommandLine(argv[1]);
    if (!commandLine) {
        std::printf("refused\n");
        return 3;
    }
    return win32::startProcess(*commandLine, 2 /* SW_SHOWMINIMIZED */) == 0 ? 0 : 1;
}

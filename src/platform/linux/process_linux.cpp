#include "process.h"

#include <QCoreApplication>
#include <unistd.h>

namespace platform {

void prepareProcess() {
    // The engine's page processes refuse to start sandboxed as root; Qt 6
    // drops a bare --no-sandbox argument, so it has to be the environment.
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
}

} // namespace platform

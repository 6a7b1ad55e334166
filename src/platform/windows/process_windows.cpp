#include "process.h"

namespace platform {

void prepareProcess() {
    // Nothing has to be in place before QApplication on Windows.
}

} // namespace platform

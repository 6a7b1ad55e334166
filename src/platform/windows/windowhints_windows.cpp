#include "windowhints.h"

namespace platform {

// Windows keeps a tool window without an owner off the taskbar by itself.
void keepOffTaskbar(QWidget*) {}

} // namespace platform

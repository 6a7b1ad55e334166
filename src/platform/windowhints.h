#pragma once

class QWidget;

namespace platform {

// Asks the window manager to give the window no taskbar button. Where windows
// have no such hint it does nothing.
void keepOffTaskbar(QWidget* window);

} // namespace platform

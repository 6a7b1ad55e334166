#pragma once

#include <QSize>

class QWidget;

namespace platform {

enum class WindowKind {
    // A window of its own with a taskbar button, a window menu and a close box.
    Main,
    // A dialog frame with a close box and no taskbar button.
    ToolDialog,
};

// A top-level window of exactly the given size (frame excluded), which the
// user can neither resize, minimize nor maximize.
void makeFixedWindow(QWidget* window, QSize size, WindowKind kind = WindowKind::Main);

// Centred on the screen the window will appear on.
void centreOnScreen(QWidget* window);

} // namespace platform

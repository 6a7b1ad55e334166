#pragma once

#include <QSize>

class QWidget;

namespace platform {

// A top-level window of exactly the given size (frame excluded) with a window
// menu and a close box, which the user can neither resize, minimize nor maximize.
void makeFixedWindow(QWidget* window, QSize size);

// Centred on the screen the window will appear on.
void centreOnScreen(QWidget* window);

} // namespace platform

#pragma once

class QApplication;

namespace platform {

// The keyboard as on the platform the windows were designed for: Enter on a
// focused push button presses it (as Space does), in every window, without
// any button becoming a default; F10, and Alt pressed and released alone,
// put the keyboard into the main window's menu bar. Call once, after
// QApplication.
void useDesktopKeyboard(QApplication& app);

} // namespace platform

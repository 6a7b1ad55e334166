#include "windowplacement.h"

#include "windowhints.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace platform {

void makeFixedWindow(QWidget* window, QSize size, WindowKind kind) {
    // A tool window is the one kind the platforms keep off the taskbar even
    // without an owner window.
    const Qt::WindowFlags type = kind == WindowKind::ToolDialog ? Qt::Tool : Qt::Window;
    window->setWindowFlags(type | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(size);
    if (kind == WindowKind::ToolDialog) {
        keepOffTaskbar(window);
    }
}

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(),
                                            screen->availableGeometry()));
}

} // namespace platform

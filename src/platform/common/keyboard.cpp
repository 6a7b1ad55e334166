#include "keyboard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>

namespace platform {
namespace {

bool isPlainKey(const QKeyEvent* key, std::initializer_list<int> keys) {
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    return modifiers == Qt::NoModifier &&
           std::find(keys.begin(), keys.end(), key->key()) != keys.end();
}

class DesktopKeys final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if (auto* button = qobject_cast<QPushButton*>(watched);
            button && isPlainKey(key, {Qt::Key_Return, Qt::Key_Enter})) {
            button->animateClick();
            return true;
        }
        if (isPlainKey(key, {Qt::Key_F10})) {
            auto* window = qobject_cast<QMainWindow*>(static_cast<QWidget*>(watched)->window());
            QMenuBar* bar = window ? window->menuBar() : nullptr;
            if (bar && !bar->actions().isEmpty()) {
                bar->setActiveAction(bar->actions().first());
                return true;
            }
        }
        return false;
    }
};

// Alt alone into the menu bar is the platform style's choice; this style asks
// for it whatever the style underneath.
class AltKeyStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) {
            return 1;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void useDesktopKeyboard(QApplication& app) {
    app.installEventFilter(new DesktopKeys(&app));
    QApplication::setStyle(new AltKeyStyle);
}

} // namespace platform

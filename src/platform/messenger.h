#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace platform {

enum class MessageIcon { None, Critical };

struct Message {
    QString text;
    // Empty means the application title, as for every message box given none.
    QString title;
    MessageIcon icon = MessageIcon::None;
    // The web address a failure concerns, shown under the text where it can
    // be selected and copied; empty for none.
    QString address = {};
};

// Modal message boxes with a single OK button.
class Messenger {
public:
    virtual ~Messenger() = default;
    virtual void show(QWidget* parent, const Message& message) = 0;
};

std::unique_ptr<Messenger> makeMessenger();

} // namespace platform

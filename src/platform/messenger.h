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

// A question before something is done to the person's files or desktop.
struct Question {
    QString text;
    QString goAhead; // the button that does it: "仍然打开"
};

// Modal message boxes with a single OK button, and questions.
class Messenger {
public:
    virtual ~Messenger() = default;
    virtual void show(QWidget* parent, const Message& message) = 0;
    // True only when the person chose goAhead; 取消 is the default button,
    // so Enter or closing the box does nothing.
    virtual bool ask(QWidget* parent, const Question& question) = 0;
};

std::unique_ptr<Messenger> makeMessenger();

} // namespace platform

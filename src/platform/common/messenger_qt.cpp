#include "identity.h"
#include "messenger.h"

#include <QMessageBox>

namespace platform {
namespace {

class QtMessenger final : public Messenger {
public:
    void show(QWidget* parent, const Message& message) override {
        const auto icon =
            message.icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon;
        const QString title =
            message.title.isEmpty() ? identity::applicationTitle() : message.title;
        QMessageBox box(icon, title, message.text, QMessageBox::Ok, parent);
        box.exec();
    }
};

} // namespace

std::unique_ptr<Messenger> makeMessenger() {
    return std::make_unique<QtMessenger>();
}

} // namespace platform

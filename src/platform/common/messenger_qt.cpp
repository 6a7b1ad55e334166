#include "identity.h"
#include "messenger.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

namespace platform {
namespace {

// Room in a title bar besides the title: the window's icon and the frame's
// buttons (close, and on some window managers more) with their margins.
constexpr int titleBarAllowance = 140;

int titleBarWidth(const QMessageBox& box) {
    QFont font = box.font();
    font.setBold(true); // title bars often show it bold, which is wider
    return QFontMetrics(font).horizontalAdvance(box.windowTitle()) + titleBarAllowance;
}

class QtMessenger final : public Messenger {
public:
    void show(QWidget* parent, const Message& message) override {
        const auto icon =
            message.icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon;
        const QString title =
            message.title.isEmpty() ? identity::applicationTitle() : message.title;
        QMessageBox box(icon, title, textOf(message), QMessageBox::Ok, parent);
        // Plain, so an address can never be read as markup, and selectable,
        // so the address can be copied into a browser by hand.
        box.setTextFormat(Qt::PlainText);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        fitTitle(box);
        box.exec();
    }

    bool ask(QWidget* parent, const Question& question) override {
        QMessageBox box(QMessageBox::Question, identity::applicationTitle(), question.text,
                        QMessageBox::NoButton, parent);
        box.setTextFormat(Qt::PlainText);
        QPushButton* goAhead = box.addButton(question.goAhead, QMessageBox::AcceptRole);
        QPushButton* cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        fitTitle(box);
        box.exec();
        return box.clickedButton() == goAhead;
    }

private:
    static QString textOf(const Message& message) {
        return message.address.isEmpty()
                   ? message.text
                   : message.text + QStringLiteral("\n\n网页地址：") + message.address;
    }

    // A box sized for its short text alone is narrower than its title bar
    // needs: "Dornavel" beside the frame's buttons elides to "D…". The box
    // is widened by a spacer, the way its own layout allows.
    static void fitTitle(QMessageBox& box) {
        auto* grid = qobject_cast<QGridLayout*>(box.layout());
        if (!grid) {
            return;
        }
        const int width = titleBarWidth(box);
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
};

} // namespace

std::unique_ptr<Messenger> makeMessenger() {
    return std::make_unique<QtMessenger>();
}

} // namespace platform

#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Form2;
}

// The troubleshooting window: the questions and answers, with the forum
// address in a box standing in the gap the text leaves for it. Closing it
// destroys it.
class Form2 final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form2)

public:
    explicit Form2(const QString& forumSite, const QString& supportContact);
    ~Form2() override;

    void Command1_Click();

    // Where the forum address box goes: over the text's blank gap, from the
    // gap's left edge, 4 px above its line so the box's frame clears the text.
    static QRect forumBoxRect(const class CellGridLabel& label, const QString& supportContact);

private:
    std::unique_ptr<Ui::Form2> m_ui;
};

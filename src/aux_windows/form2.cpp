#include "form2.h"

#include "cellgridlabel.h"
#include "troubleshooting.h"
#include "ui_form2.h"
#include "windowplacement.h"

namespace {

constexpr QSize clientSize{521, 250};
constexpr QSize forumBoxSize{129, 18};
constexpr int forumBoxAboveLine = 4;

} // namespace

Form2::Form2(const QString& forumSite, const QString& supportContact)
    : m_ui(std::make_unique<Ui::Form2>()) {
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    platform::makeFixedWindow(this, clientSize);
    platform::centreOnScreen(this);

    m_ui->Label1->setText(troubleshooting::text(supportContact));
    m_ui->Text1->setText(forumSite);
    m_ui->Text1->setCursorPosition(0); // an address wider than the box shows its start
    m_ui->Text1->setGeometry(
        forumBoxRect(*m_ui->Label1, supportContact).translated(m_ui->Label1->pos()));
    m_ui->Command1->setFocus();

    connect(m_ui->Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
}

Form2::~Form2() = default;

void Form2::Command1_Click() {
    close();
}

QRect Form2::forumBoxRect(const CellGridLabel& label, const QString& supportContact) {
    const auto gapSpan = troubleshooting::forumGap(supportContact);
    const QRect gap = cellgrid::spanRect(label.lines(), gapSpan.start, gapSpan.length);
    return {QPoint(gap.left(), gap.top() - forumBoxAboveLine), forumBoxSize};
}

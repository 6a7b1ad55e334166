#include "cellgridlabel.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

// What a screen reader gets from the label: its whole text, as from any label,
// although it is painted a cell at a time.
class CellGridLabelAccessible final : public QAccessibleWidget {
public:
    explicit CellGridLabelAccessible(QWidget* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) {
            return static_cast<const CellGridLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String("CellGridLabel") && object && object->isWidgetType()) {
        return new CellGridLabelAccessible(static_cast<QWidget*>(object));
    }
    return nullptr;
}

} // namespace

CellGridLabel::CellGridLabel(QWidget* parent)
    : QWidget(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleFor), true);
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::NoFocus);
}

void CellGridLabel::setText(const QString& text) {
    m_text = text;
    layOut();
    QAccessibleEvent changed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

void CellGridLabel::resizeEvent(QResizeEvent*) {
    layOut();
}

void CellGridLabel::layOut() {
    m_lines = cellgrid::layOut(m_text, width());
    update();
}

void CellGridLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();
    // Glyphs sit on a common baseline, centred in the 12 px line.
    const int baseline = (cellgrid::lineHeight + metrics.ascent() - metrics.descent()) / 2;
    for (const cellgrid::Line& line : m_lines) {
        if (line.top + cellgrid::lineHeight > height()) {
            break;
        }
        for (const cellgrid::Cell& cell : line.cells) {
            // The whole character at once: a surrogate pair or a base with
            // its marks is one glyph, or one cluster of them.
            const QString character = m_text.mid(cell.index, cell.length);
            if (character == QLatin1String(" ")) {
                continue;
            }
            const int advance = metrics.horizontalAdvance(character);
            painter.drawText(cell.x + (cell.width - advance) / 2, line.top + baseline, character);
        }
    }
}

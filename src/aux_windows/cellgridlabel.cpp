#include "cellgridlabel.h"

#include <QPainter>

CellGridLabel::CellGridLabel(QWidget* parent)
    : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void CellGridLabel::setText(const QString& text) {
    m_text = text;
    layOut();
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
            const QChar c = m_text[cell.index];
            if (c == QLatin1Char(' ')) {
                continue;
            }
            const int advance = metrics.horizontalAdvance(c);
            painter.drawText(cell.x + (cell.width - advance) / 2, line.top + baseline, QString(c));
        }
    }
}

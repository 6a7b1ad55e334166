#include "cellgridlabel.h"

#include <QPainter>

CellGridLabel::CellGridLabel(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void CellGridLabel::setText(const QString& text)
{
    m_text = text;
    m_lines = troubleshooting::layOut(m_text, width() > 0 ? width() : troubleshooting::lineWidth);
    update();
}

void CellGridLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();
    // Glyphs sit on a common baseline, centred in the 12 px line.
    const int baseline = (troubleshooting::lineHeight + metrics.ascent() - metrics.descent()) / 2;
    for (const troubleshooting::Line& line : m_lines) {
        if (line.top + troubleshooting::lineHeight > height()) {
            break;
        }
        for (const troubleshooting::Cell& cell : line.cells) {
            const QChar c = m_text[cell.index];
            if (c == QLatin1Char(' ')) {
                continue;
            }
            const int advance = metrics.horizontalAdvance(c);
            painter.drawText(cell.x + (cell.width - advance) / 2, line.top + baseline, QString(c));
        }
    }
}

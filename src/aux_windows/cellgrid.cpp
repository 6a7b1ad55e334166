#include "cellgrid.h"

namespace cellgrid {
namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ');
}
bool isAsciiWordChar(QChar c) {
    return c.unicode() < 0x80 && !isBlank(c);
}

// One unit the breaker places as a whole: a single character, or a run of
// ASCII letters, digits and signs.
qsizetype unitEnd(QStringView text, qsizetype start) {
    qsizetype end = start + 1;
    if (isAsciiWordChar(text[start])) {
        while (end < text.size() && isAsciiWordChar(text[end])) {
            ++end;
        }
    }
    return end;
}

int widthOf(QStringView text, qsizetype start, qsizetype end) {
    int width = 0;
    for (qsizetype i = start; i < end; ++i) {
        width += cellWidth(text[i]);
    }
    return width;
}

} // namespace

int cellWidth(QChar c) {
    return c.unicode() < 0x80 ? 6 : 12;
}

QString Line::shown(QStringView text) const {
    if (cells.isEmpty()) {
        return {};
    }
    return text.mid(cells.first().index, cells.last().index - cells.first().index + 1).toString();
}

QList<Line> layOut(QStringView text, int width) {
    QList<Line> lines(1);
    int x = 0;
    auto newLine = [&] {
        lines.append(Line{{}, int(lines.size()) * lineHeight});
        x = 0;
    };
    auto place = [&](qsizetype i) {
        lines.last().cells.append({i, x, cellWidth(text[i])});
        x += cellWidth(text[i]);
    };

    for (qsizetype start = 0; start < text.size();) {
        const qsizetype end = unitEnd(text, start);
        const int unitWidth = widthOf(text, start, end);
        if (x + unitWidth > width && isBlank(text[start])) {
            newLine(); // the blank that does not fit is dropped
            start = end;
            continue;
        }
        if (x + unitWidth > width && x > 0) {
            newLine();
        }
        for (qsizetype i = start; i < end; ++i) {
            if (x + cellWidth(text[i]) > width) {
                newLine(); // only a run longer than a whole line gets here
            }
            place(i);
        }
        start = end;
    }
    return lines;
}

QRect spanRect(const QList<Line>& lines, qsizetype start, qsizetype length) {
    QRect rect;
    for (const Line& line : lines) {
        for (const Cell& cell : line.cells) {
            if (cell.index >= start && cell.index < start + length) {
                rect |= QRect(cell.x, line.top, cell.width, lineHeight);
            }
        }
    }
    return rect;
}

} // namespace cellgrid

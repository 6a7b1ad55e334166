#include "cellgrid.h"

namespace cellgrid {
namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ');
}

char32_t codePointAt(QStringView text, qsizetype i) {
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        return QChar::surrogateToUcs4(text[i], text[i + 1]);
    }
    return text[i].unicode();
}

qsizetype unitsOf(char32_t c) {
    return QChar::requiresSurrogates(c) ? 2 : 1;
}

bool isMark(char32_t c) {
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

// One character: a code point (a surrogate pair counts once) and the
// combining marks after it.
qsizetype characterEnd(QStringView text, qsizetype start) {
    qsizetype end = start + unitsOf(codePointAt(text, start));
    while (end < text.size() && isMark(codePointAt(text, end))) {
        end += unitsOf(codePointAt(text, end));
    }
    return end;
}

bool isBlankCharacter(QStringView text, qsizetype start) {
    return isBlank(text[start]) && characterEnd(text, start) == start + 1;
}

bool isAsciiWordCharacter(QStringView text, qsizetype start) {
    return text[start].unicode() < 0x80 && !isBlankCharacter(text, start);
}

// One unit the breaker places as a whole: a single character, or a run of
// ASCII letters, digits and signs.
qsizetype unitEnd(QStringView text, qsizetype start) {
    qsizetype end = characterEnd(text, start);
    if (isAsciiWordCharacter(text, start)) {
        while (end < text.size() && isAsciiWordCharacter(text, end)) {
            end = characterEnd(text, end);
        }
    }
    return end;
}

int widthOf(QStringView text, qsizetype start, qsizetype end) {
    int width = 0;
    for (qsizetype i = start; i < end; i = characterEnd(text, i)) {
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
    const qsizetype end = cells.last().index + cells.last().length;
    return text.mid(cells.first().index, end - cells.first().index).toString();
}

QList<Line> layOut(QStringView text, int width) {
    QList<Line> lines(1);
    int x = 0;
    auto newLine = [&] {
        lines.append(Line{{}, int(lines.size()) * lineHeight});
        x = 0;
    };
    auto place = [&](qsizetype i, qsizetype end) {
        lines.last().cells.append({i, x, cellWidth(text[i]), end - i});
        x += cellWidth(text[i]);
    };

    for (qsizetype start = 0; start < text.size();) {
        const qsizetype end = unitEnd(text, start);
        const int unitWidth = widthOf(text, start, end);
        if (x + unitWidth > width && isBlankCharacter(text, start)) {
            newLine(); // the blank that does not fit is dropped
            start = end;
            continue;
        }
        if (x + unitWidth > width && x > 0) {
            newLine();
        }
        for (qsizetype i = start; i < end; i = characterEnd(text, i)) {
            if (x + cellWidth(text[i]) > width) {
                newLine(); // only a run longer than a whole line gets here
            }
            place(i, characterEnd(text, i));
        }
        start = end;
    }
    return lines;
}

QRect spanRect(const QList<Line>& lines, qsizetype start, qsizetype length) {
    QRect rect;
    for (const Line& line : lines) {
        for (const Cell& cell : line.cells) {
            if (cell.index < start + length && cell.index + cell.length > start) {
                rect |= QRect(cell.x, line.top, cell.width, lineHeight);
            }
        }
    }
    return rect;
}

} // namespace cellgrid

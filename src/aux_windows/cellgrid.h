#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QStringView>

// Text laid out on a grid of character cells, as the window texts were
// designed: 12 px for CJK characters and full-width marks, 6 px for ASCII,
// 12 px lines, filled from the left. A cell holds one character: a surrogate
// pair is one character, and combining marks stay in their base's cell.
namespace cellgrid {

inline constexpr int lineHeight = 12;

int cellWidth(QChar c);

struct Cell {
    qsizetype index; // into the text
    int x;
    int width;
    qsizetype length = 1; // UTF-16 units of the character, with its marks
};

struct Line {
    QList<Cell> cells;
    int top = 0;
    // The text the line shows, from its first to its last cell.
    QString shown(QStringView text) const;
};

// Breaks the text into lines of at most the given width:
// - a CJK character or full-width mark that does not fit begins the next line;
// - a run of ASCII letters, digits and signs that does not fit moves whole to
//   the next line (one longer than a line is cut where the line is full);
// - a blank that does not fit ends the line and is dropped; every other blank
//   stays, also at the start of a line.
QList<Line> layOut(QStringView text, int width);

// The rectangle the cells of text[start, start + length) occupy.
QRect spanRect(const QList<Line>& lines, qsizetype start, qsizetype length);

} // namespace cellgrid

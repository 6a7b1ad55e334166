#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QStringView>

// The troubleshooting questions and answers and how they are laid out: a
// character cell grid of 12 px for CJK characters and full-width marks and
// 6 px for ASCII, 12 px lines, filled from the left.
namespace troubleshooting {

inline constexpr int lineWidth = 505;
inline constexpr int lineHeight = 12;

// The whole text, one string without line breaks. The forum's name is followed
// by a run of blanks that the forum address box covers.
QString text(const QString& supportContact);

// Where the blank run for the forum address lies in text().
struct Span {
    qsizetype start;
    qsizetype length;
};
Span forumGap(const QString& supportContact);

int cellWidth(QChar c);

struct Cell {
    qsizetype index; // into the text
    int x;
    int width;
};

struct Line {
    QList<Cell> cells;
    int top = 0;
    // The text the line shows, from its first to its last cell.
    QString shown(QStringView text) const;
};

// Breaks the text into lines:
// - a CJK character or full-width mark that does not fit begins the next line;
// - a run of ASCII letters, digits and signs that does not fit moves whole to
//   the next line (one longer than a line is cut where the line is full);
// - a blank that does not fit ends the line and is dropped; every other blank
//   stays, also at the start of a line.
QList<Line> layOut(QStringView text, int width = lineWidth);

// The rectangle the cells of text[span] occupy, relative to the label.
QRect spanRect(const QList<Line>& lines, Span span);

} // namespace troubleshooting

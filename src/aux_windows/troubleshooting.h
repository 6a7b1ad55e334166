#pragma once

#include <QString>

// The troubleshooting questions and answers.
namespace troubleshooting {

// The width the text was laid out for.
inline constexpr int lineWidth = 505;

// The whole text, one string without line breaks. The forum's name is followed
// by a run of blanks that the forum address box covers.
QString text(const QString& supportContact);

// Where the blank run for the forum address lies in text().
struct Span {
    qsizetype start;
    qsizetype length;
};
Span forumGap(const QString& supportContact);

} // namespace troubleshooting

#pragma once

#include <QList>
#include <QMimeType>
#include <QString>
#include <QStringList>
#include <climits>

// How well a program fits a format, so that the one whose job the format is
// comes first. What it weighs is kept as data (formats/ranking.json): the
// families of formats, the desktop categories made for each, and a short
// table of preferred programs.
namespace ranking {

// What a program is judged on.
struct Traits {
    QStringList types;      // the media types it declares
    QList<int> families;    // the family of each of them (familiesOf)
    QList<bool> formats;    // whether each of them is a format (formatsOf); worked out when empty
    QStringList categories; // its desktop categories
    QString package;        // empty when not known
    int desktops = 0;       // how many of the distribution's desktops ship its package
    bool described = false; // its makers describe it to the catalog themselves (describedBy)
};

// The format programs are judged for.
struct Target {
    QString type;
    QStringList aliases;
    QList<QStringList> ancestors; // each type above it with its aliases, nearest first
    int family = -1;
    // The ancestors whose programs stand apart: those it is only packed in,
    // and those above its own parents (an SVG is XML, not a text to edit).
    QStringList apart;
    QString comment;     // what the database calls it, which may name the program it is of
    QStringList advised; // the packages the site's advice names for it, first first
};

// Opens the type itself, names it by an alias, opens a type the format is a
// kind of (a log file is plain text), or opens only a container the format
// is packed in (a word document is a ZIP archive).
enum class Tier { Exact, Alias, Kind, Parent, None };

struct Fit {
    Tier tier = Tier::None;
    QString parent; // the type above it that a Kind or Parent program opens
    int preferred = INT_MAX;
    bool namesake = false; // the format is named after the program
    bool unfit = false;    // known not to read the format on this release
    double score = 0;
};

Target targetFor(const QMimeType& type);
// The family of a type by its name; -1 for none.
int familyOf(const QString& type);
QList<int> familiesOf(const QStringList& types);
// Whether a type is a file format rather than a way of handing files over
// (a folder, a URL scheme).
bool isFormat(const QString& type);
Fit fitOf(const Target& target, const Traits& program);
// Whether a catalog id is its makers' own (reverse domain, "org.videolan.vlc")
// rather than one made from a bare desktop file ("mplayer.desktop").
bool describedBy(const QString& componentId);
// Negative when a comes first, positive when b does, 0 when the fit alone
// does not tell them apart.
int compare(const Fit& a, const Fit& b);

// What a program is, in Chinese: its own line where that is Chinese, else
// what its desktop categories say it is (文字处理软件, 图片查看器), else its
// own line as it is.
QString chineseLine(const QString& line, const QStringList& categories);

// What a person calls a family's formats, for the word search.
struct Family {
    QString label;
    QStringList words;
};
QList<Family> families();

} // namespace ranking

#pragma once

#include <QList>
#include <QMimeType>
#include <QString>
#include <QStringList>

// What the pages say about formats beyond the MIME database, kept as data
// (formats/advice.json).
namespace advice {

// A format's name, where the advice renames it, is filecheck::formatName's.
struct Advice {
    QString maker;     // the program that makes such files
    QString howToOpen; // how to open them on this system
    bool opensOnLinux = true;
    QStringList keywords; // more words the search finds the type by
    QStringList packages; // the packages of the programs howToOpen names, in its order
};

// A program the advice names that the catalog does not describe (one run
// from a terminal): what the pages call it, and what it does, in Chinese.
struct Tool {
    QString name;
    QString line;
};

// What the data says of the type (by its name or an alias); empty if nothing.
Advice about(const QMimeType& type);

// What the advice says of a package the catalog lacks; empty if nothing.
Tool tool(const QString& package);

// How commonly a Chinese desktop user meets the type, as a rank: the lower,
// the more often; everyday formats, then common ones, then those the table
// does not name, then rare ones.
int commonness(const QString& type);
// The same for the most commonly met of a type's names (itself and its aliases).
int commonness(const QStringList& names);

// Every package any advice names, to be checked against the distribution.
QStringList packagesNamed();

// Every type the data has words for, with them.
QList<std::pair<QString, QStringList>> keywords();

} // namespace advice

#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// What reading the software catalog and the package lists gave, kept in the
// user's cache folder: reading them takes the library a third of a second,
// and sorting the programs' types into families as long again; they change
// only with an update. What is kept is used only while every
// file it was read from is as it was then; a kept file that is damaged,
// foreign or of another version is read past, and the catalog read again.
namespace catalogcache {

struct Extract {
    QByteArray programs;          // the catalog's programs, as the catalog reads them
    QHash<QString, int> choices;  // how many desktops ship each package
    QHash<QString, int> families; // the family of each type the programs open
    bool complete = true;         // read whole, and so worth keeping
};

std::optional<Extract> find(const QString& directory, const QStringList& sources);
// Written aside and renamed into place; a failure only means no cache.
void keep(const QString& directory, const QStringList& sources, const Extract& extract);

} // namespace catalogcache

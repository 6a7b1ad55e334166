#pragma once

#include "catalog.h"

#include <QList>
#include <QString>
#include <QStringList>

// What this machine knows about a file extension: the MIME types that match a
// file named x.<extension>, the installed programs that open them, and the
// catalog's programs that could be installed to open them.
namespace knowledge {

struct Program {
    QString name; // in Simplified Chinese where the desktop entry has it
    QString id;   // the desktop entry's id
    QString description;
    bool isDefault = false;
    QString iconFile;
};

struct Format {
    QString mimeType;
    QString description; // in Simplified Chinese where the database has it
    QStringList aliases;
    QStringList parents;
    QStringList suffixes; // every extension of the type
    QString preferredSuffix;
    QString iconName; // a themed icon name with a file, or empty
    QString iconFile;
    QList<Program> programs;             // installed, the default first
    QList<catalog::Program> installable; // not installed yet, best first
};

struct Answer {
    QString extension; // as the pages show it, without the dot
    QList<Format> formats;
    // False for a public site's answer, which leaves out everything that
    // describes this machine: its installed programs and its default.
    bool describesMachine = true;
};

// What a lookup may tell: all this machine knows, or only what a public site
// may show anyone (the format and the catalog's programs).
enum class Scope { Machine, Public };

// Call once before the first lookup, before other threads start: fixes the
// language that descriptions and program names are read in.
void useSimplifiedChinese();

// What the user meant: blanks around and leading dots dropped, letter case
// folded, and a whole file name reduced to the extension the database
// matches in it ("archive.tar.gz" gives "tar.gz").
QString normalise(const QString& typed);

// No formats when the database knows no type for the extension.
Answer lookUp(const QString& typed, const catalog::Catalog& catalog, Scope scope = Scope::Machine);

// Up to five known extensions that start with the normalised text or are one
// edit away from it.
QStringList suggestions(const QString& text);

// Every extension of every type the database knows, lower-cased and sorted.
QStringList knownExtensions();

// Drops what is remembered of the databases, after they changed.
void forget();

} // namespace knowledge

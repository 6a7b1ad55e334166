#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What this machine knows about a file extension: the MIME types that match a
// file named x.<extension>, and the installed programs that open them. Asked
// afresh on every call, so newly installed software shows up at once.
namespace knowledge {

struct Program {
    QString name; // in Simplified Chinese where the desktop entry has it
    QString id;   // the desktop entry's id
    QString description;
    bool isDefault = false;
};

struct Format {
    QString mimeType;
    QString description; // in Simplified Chinese where the database has it
    QStringList aliases;
    QStringList parents;
    QStringList suffixes; // every extension of the type
    QString preferredSuffix;
    QList<Program> programs; // the default first
};

// Call once before the first lookup, before other threads start: fixes the
// language that descriptions and program names are read in.
void useSimplifiedChinese();

// Empty when the database knows no type for the extension.
QList<Format> lookUp(const QString& extension);

} // namespace knowledge

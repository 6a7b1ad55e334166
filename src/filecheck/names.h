#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What a file's name says, read the way a person would read it.
namespace filecheck {

// The last component of a path as the file system spells it, decoded for
// display; bytes that are not UTF-8 become U+FFFD.
QString lastComponent(const QByteArray& path);

// Bidirectional and control characters written as «U+202E».
QString escapeInvisible(const QString& name);
bool hasDirectionControls(const QString& name);

// The last suffix without the dot, as typed: empty when there is none, when
// the name is a hidden file's (".bashrc"), or when what follows the dot is
// no extension ("Mr. Smith", "pas2jni-3.2.2", "report.salary-of-2024"). The
// one rule for what of a name may be taken, shown and sent as its extension.
QString extensionOf(const QString& name);
// The extension before the last one, ignoring blanks between them:
// "pdf" for "report.pdf.exe" and for "report.pdf      .exe".
QString innerExtensionOf(const QString& name);
// A long run of blanks before the last dot, which pushes the real extension
// out of sight in a narrow column.
bool hidesExtensionBehindBlanks(const QString& name);

// The MIME types the name alone suggests: several where an extension has
// several meanings (.ts, .pm, .wps), in the order people mean them (see
// meanings.h), else the database's own pick first.
QStringList typesByName(const QString& name);

} // namespace filecheck

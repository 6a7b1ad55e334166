#pragma once

#include <QString>
#include <QStringList>

// An extension that names several formats, and the one people mean first:
// site/formats/meanings.json, kept as data. The site lists an extension's
// formats in this order; the app, where a file's content fits several of
// its extension's formats, names it by the first that fits, so that a file
// given to the app and its extension's page agree.
namespace filecheck {

// The extension's formats, most meant first; empty where nothing is said.
// The extension compares without case.
QStringList meaningsOf(const QString& extension);

// The types, those the extension's order names first and in that order,
// then the rest as they were.
QStringList inOrderOfMeaning(const QString& extension, const QStringList& types);

} // namespace filecheck

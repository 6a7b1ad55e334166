#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// The format data built in as resources (:/formats/*.json), the site's and
// what of it the app reads too.
namespace builtin {

// The document's top object. It is built in, so a fault in it is the
// build's: said once on standard error, and the caller goes on without it.
QJsonObject document(const QString& resource);

// An array of strings; anything else gives none.
QStringList strings(const QJsonValue& value);

} // namespace builtin

#pragma once

#include <QByteArrayView>
#include <QString>

// Whether a mime.cache may be handed to the MIME readers of GLib and Qt. They
// map the file and trust every offset and count in it, so a damaged one
// crashes them or sends them round a loop.
namespace mimecheck {

// What is wrong with the cache, in a few words; empty when the header is of
// version 1.2, every table, entry and string lies inside the file, and the
// suffix tree and the magic rules end.
QString problemIn(QByteArrayView cache);

// The same for a file. One that is missing or cannot be opened has no
// problem: no reader gets to it either.
QString problemInFile(const QString& path);

} // namespace mimecheck

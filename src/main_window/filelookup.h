#pragma once

#include "webpane.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>

class QObject;

// What the window shows for files given to it, dropped or named on the
// command line. Only the extension, the type the content bears out and the
// kinds of notice go into an address; the name and the content stay here.
namespace filelookup {

struct Shown {
    QString extension;       // the first file's, for the text box; empty when it has none
    QUrl address;            // the site's page for the first and only file
    platform::PageFile file; // and that file, for the page's 打开 links
    // Otherwise a page made here: why a file cannot be told, or one line per
    // type among several files.
    QString page;
    bool pageLinksToSite = false; // its links lead to the site's pages
};

// How long reading may take: a file on a stalled mount may never answer.
struct Bounds {
    std::chrono::milliseconds perFile{3000};
    std::chrono::milliseconds overall{10000};
};

// What to show at once, before any file is read: the first one's extension,
// told by its name alone, and a page that says the files are being read.
Shown whileReading(const QList<QByteArray>& paths);

// Reads the files (paths as the file system spells them) on a thread of
// their own and calls then() on receiver's thread with what to show, once
// every file answered or its time ran out; never once receiver is gone. A
// file that does not answer within bounds.perFile is told as such and the
// next ones are read on another thread; what is left when bounds.overall is
// over is told as not reached. A thread blocked in a read is never waited
// for. A new call for the same receiver replaces the one under way. Looks at
// no more than the first files of a long list.
void forFiles(const QString& site, const QList<QByteArray>& paths, QObject* receiver,
              std::function<void(const Shown&)> then, Bounds bounds = {});

} // namespace filelookup

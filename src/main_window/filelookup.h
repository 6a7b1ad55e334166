#pragma once

#include "webpane.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

// What the window shows for files given to it, dropped or named on the
// command line. Only the extension, the type the content says and the kinds
// of notice go into an address; the name and the content stay here.
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

// paths as the file system spells them. Looks at no more than the first
// files of a long list.
Shown forFiles(const QString& site, const QList<QByteArray>& paths);

} // namespace filelookup

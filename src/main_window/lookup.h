#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>

// The addresses the lookup commands hand to the pane and the browser, in the
// forms of addresses.h; the text is encoded as one path segment.
namespace lookup {

// site + "/filefound/" + text + ".html"
QUrl embeddedAddress(const QString& site, QStringView text);
// The page for a file: site + "/filefound/" + extension + ".html?type=" +
// type + "&notice=" + the notices' kinds, comma-separated; each part left
// out when empty. Only what the name and content were found to be: never the
// name itself.
QUrl fileAddress(const QString& site, QStringView extension, const QString& type,
                 const QStringList& notices);
// site + "/soso/" + text + ".htm"
QUrl externalAddress(const QString& site, QStringView text);
// site + "/"
QUrl forumAddress(const QString& site);

} // namespace lookup

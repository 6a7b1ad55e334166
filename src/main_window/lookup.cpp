#include "lookup.h"

#include "addresses.h"

namespace lookup {

using addresses::Page;

QUrl embeddedAddress(const QString& site, QStringView text) {
    return addresses::under(site, addresses::pagePath(Page::Lookup, text));
}

QUrl fileAddress(const QString& site, QStringView extension, const QString& type,
                 const QStringList& notices) {
    const QString path = addresses::pagePath(Page::Lookup, extension);
    const QString query = addresses::fileQuery(type, notices);
    return addresses::under(site, query.isEmpty() ? path : path + u'?' + query);
}

QUrl externalAddress(const QString& site, QStringView text) {
    return addresses::under(site, addresses::pagePath(Page::Search, text));
}

QUrl forumAddress(const QString& site) {
    return addresses::under(site, addresses::rootPath());
}

} // namespace lookup

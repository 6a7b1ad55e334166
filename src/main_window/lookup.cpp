#include "lookup.h"

namespace lookup {
namespace {

QUrl siteAddress(const QString& site, const QString& path) {
    // Every byte that could mean anything to a URL parser is already escaped,
    // so strict parsing keeps the address exactly as built.
    return QUrl(site + path, QUrl::StrictMode);
}

// Qt's UTF-8 encoder writes an unpaired surrogate as a question mark; the
// address carries U+FFFD for it instead, as browsers do.
QString withUnpairedSurrogatesReplaced(QStringView text) {
    QString out = text.toString();
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate()) {
            ++i;
        } else if (out[i].isSurrogate()) {
            out[i] = QChar::ReplacementCharacter;
        }
    }
    return out;
}

} // namespace

QString encodePathSegment(QStringView text) {
    // Every byte but the unreserved A-Z a-z 0-9 - . _ ~ is percent-encoded.
    return QString::fromLatin1(withUnpairedSurrogatesReplaced(text).toUtf8().toPercentEncoding());
}

QUrl embeddedAddress(const QString& site, QStringView text) {
    return siteAddress(site, QStringLiteral("/filefound/") + encodePathSegment(text) +
                                 QStringLiteral(".html"));
}

QUrl fileAddress(const QString& site, QStringView extension, const QString& type,
                 const QStringList& notices) {
    QStringList query;
    if (!type.isEmpty()) {
        query << QStringLiteral("type=") +
                     QString::fromLatin1(type.toUtf8().toPercentEncoding("/"));
    }
    if (!notices.isEmpty()) {
        query << QStringLiteral("notice=") + encodePathSegment(notices.join(u','));
    }
    const QString path =
        QStringLiteral("/filefound/") + encodePathSegment(extension) + QStringLiteral(".html");
    return siteAddress(site, query.isEmpty() ? path : path + u'?' + query.join(u'&'));
}

QUrl externalAddress(const QString& site, QStringView text) {
    return siteAddress(site,
                       QStringLiteral("/soso/") + encodePathSegment(text) + QStringLiteral(".htm"));
}

QUrl forumAddress(const QString& site) {
    return siteAddress(site, QStringLiteral("/"));
}

} // namespace lookup

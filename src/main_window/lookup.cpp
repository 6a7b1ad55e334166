#include "lookup.h"

#include <QChar>

namespace lookup {
namespace {

bool isUnreserved(char32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

void appendUtf8(QByteArray& out, char32_t c) {
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

// Code points of a UTF-16 text; a surrogate without its partner becomes U+FFFD.
template <typename Visit> void forEachCodePoint(QStringView text, Visit visit) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text[i];
        if (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            visit(QChar::surrogateToUcs4(unit, text[i + 1]));
            ++i;
        } else if (unit.isSurrogate()) {
            visit(char32_t{0xFFFD});
        } else {
            visit(char32_t{unit.unicode()});
        }
    }
}

QUrl siteAddress(const QString& site, const QString& path) {
    // Every byte that could mean anything to a URL parser is already escaped,
    // so strict parsing keeps the address exactly as built.
    return QUrl(site + path, QUrl::StrictMode);
}

} // namespace

QString encodePathSegment(QStringView text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    QByteArray utf8;
    utf8.reserve(text.size() * 3);
    forEachCodePoint(text, [&](char32_t c) { appendUtf8(utf8, c); });

    QString out;
    out.reserve(utf8.size() * 3);
    for (const char byte : std::as_const(utf8)) {
        const auto b = static_cast<unsigned char>(byte);
        if (isUnreserved(b)) {
            out.append(QLatin1Char(char(b)));
        } else {
            out.append(QLatin1Char('%'));
            out.append(QLatin1Char(hex[b >> 4]));
            out.append(QLatin1Char(hex[b & 0xF]));
        }
    }
    return out;
}

QUrl embeddedAddress(const QString& site, QStringView text) {
    return siteAddress(site, QStringLiteral("/filefound/") + encodePathSegment(text) +
                                 QStringLiteral(".html"));
}

QUrl externalAddress(const QString& site, QStringView text) {
    return siteAddress(site,
                       QStringLiteral("/soso/") + encodePathSegment(text) + QStringLiteral(".htm"));
}

QUrl forumAddress(const QString& site) {
    return siteAddress(site, QStringLiteral("/"));
}

} // namespace lookup

// The lookup address builder: any text becomes exactly one path segment that
// decodes back to the text.
#include "addresses.h"
#include "lookup.h"

#include <QStringDecoder>
#include <cstdint>
#include <cstdlib>

namespace {

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input is the typed text as UTF-16 code units, any of them.
    const QString text(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    const QByteArray segment = addresses::encodeSegment(text).toLatin1();
    for (qsizetype i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%') {
            check(i + 2 < segment.size() && isHex(segment[i + 1]) && isHex(segment[i + 2]));
            i += 2;
        } else {
            check(isUnreserved(segment[i]));
        }
    }
    // Round trip: what the site decodes is the text, with U+FFFD for an
    // unpaired surrogate.
    // (A decoder that keeps a leading U+FEFF: fromUtf8 drops it as a byte order mark.)
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    const QString decoded = utf8(QByteArray::fromPercentEncoding(segment));
    check(decoded.size() == text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool paired =
            (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ||
            (text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate() &&
             decoded[i - 1] == text[i - 1]);
        check(decoded[i] ==
              (text[i].isSurrogate() && !paired ? QChar::ReplacementCharacter : text[i]));
    }
    const QUrl address = lookup::embeddedAddress(QStringLiteral("http://127.0.0.1:27380"), text);
    check(address.isValid() && address.host() == QLatin1String("127.0.0.1") &&
          !address.hasQuery() && !address.hasFragment());
    const QByteArray path = address.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    check(path == "/filefound/" + segment + ".html");
    return 0;
}

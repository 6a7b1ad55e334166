#include "names.h"

#include "meanings.h"

#include <QFile>
#include <QMimeDatabase>

namespace filecheck {
namespace {

bool isDirectionControl(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
           c == 0x200F || c == 0x061C;
}

// Characters that show as nothing or as a blank, used to pad a name.
bool isBlank(QChar c) {
    switch (c.unicode()) {
    case 0x115F: // Hangul fillers
    case 0x1160:
    case 0x3164:
    case 0xFFA0:
    case 0x180E: // Mongolian vowel separator
    case 0x200B: // zero width space
    case 0x2800: // Braille blank
        return true;
    default:
        return c.isSpace();
    }
}

QString withoutDirectionControls(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        if (!isDirectionControl(c.unicode()))
            out += c;
    }
    return out;
}

// What can follow the last dot of a name and still be an extension: a
// short word of letters, digits and the few marks real ones use
// ("raw-disk-image", "c++"), the longest in the MIME database being 14. A
// number counts only where it does not end a version ("pas2jni-3.2.2",
// "python3.11"); split archives (".001") and man pages (".1") keep theirs.
bool isPlausibleExtension(QStringView extension, QStringView stem) {
    constexpr qsizetype longest = 16;
    if (extension.isEmpty() || extension.size() > longest)
        return false;
    bool letter = false;
    for (QChar c : extension) {
        const char16_t u = c.unicode();
        const bool alpha = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
        const bool digit = u >= '0' && u <= '9';
        if (!alpha && !digit && u != '-' && u != '_' && u != '+')
            return false;
        letter = letter || alpha;
    }
    return letter || stem.isEmpty() || !stem.back().isDigit();
}

} // namespace

QString lastComponent(const QByteArray& path) {
    QByteArray trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith('/'))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf('/');
    const QByteArray last = slash < 0 || trimmed == "/" ? trimmed : trimmed.mid(slash + 1);
    return QFile::decodeName(last);
}

QString escapeInvisible(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        if (isDirectionControl(c.unicode()) || c.category() == QChar::Other_Control) {
            out += QStringLiteral("«U+%1»").arg(uint(c.unicode()), 4, 16, QChar(u'0')).toUpper();
        } else {
            out += c;
        }
    }
    return out;
}

bool hasDirectionControls(const QString& name) {
    return std::any_of(name.cbegin(), name.cend(),
                       [](QChar c) { return isDirectionControl(c.unicode()); });
}

QString extensionOf(const QString& name) {
    const QString plain = withoutDirectionControls(name);
    const qsizetype dot = plain.lastIndexOf(u'.');
    if (dot <= 0)
        return {};
    const QString extension = plain.mid(dot + 1);
    return isPlausibleExtension(extension, QStringView(plain).left(dot)) ? extension : QString();
}

QString innerExtensionOf(const QString& name) {
    const QString plain = withoutDirectionControls(name);
    if (extensionOf(plain).isEmpty())
        return {};
    QString stem = plain.left(plain.lastIndexOf(u'.'));
    while (!stem.isEmpty() && isBlank(stem.back()))
        stem.chop(1);
    return extensionOf(stem);
}

bool hidesExtensionBehindBlanks(const QString& name) {
    constexpr int longRun = 4;
    const QString plain = withoutDirectionControls(name);
    if (extensionOf(plain).isEmpty())
        return false;
    int run = 0;
    for (QChar c : QStringView(plain).left(plain.lastIndexOf(u'.'))) {
        run = isBlank(c) ? run + 1 : 0;
        if (run >= longRun)
            return true;
    }
    return false;
}

QStringList typesByName(const QString& name) {
    const QString plain = withoutDirectionControls(name);
    QMimeDatabase db;
    const QMimeType pick = db.mimeTypeForFile(plain, QMimeDatabase::MatchExtension);
    if (pick.isDefault())
        return {};
    QStringList types{pick.name()};
    for (const QMimeType& type : db.mimeTypesForFileName(plain)) {
        if (!types.contains(type.name()))
            types.append(type.name());
    }
    return inOrderOfMeaning(extensionOf(plain), types);
}

} // namespace filecheck

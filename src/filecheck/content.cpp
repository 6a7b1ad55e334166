#include "content.h"

#include "kinds.h"

#include <QHash>
#include <QLibrary>
#include <QMimeDatabase>
#include <magic.h>

namespace filecheck {
namespace {

const QString plainText = QStringLiteral("text/plain");
const QString unknownBytes = QStringLiteral("application/octet-stream");

// libmagic is loaded with the first file looked at, not linked: an app that
// looks at none does not map it, nor the compression libraries it brings.
// Where it cannot be loaded, content is judged as without its database.
struct MagicLibrary {
    decltype(&magic_open) open = nullptr;
    decltype(&magic_load) load = nullptr;
    decltype(&magic_buffer) buffer = nullptr;
    decltype(&magic_close) close = nullptr;
};

const MagicLibrary& magicLibrary() {
    static const MagicLibrary library = [] {
        QLibrary file(QStringLiteral("magic"), 1); // stays loaded
        MagicLibrary found{reinterpret_cast<decltype(&magic_open)>(file.resolve("magic_open")),
                           reinterpret_cast<decltype(&magic_load)>(file.resolve("magic_load")),
                           reinterpret_cast<decltype(&magic_buffer)>(file.resolve("magic_buffer")),
                           reinterpret_cast<decltype(&magic_close)>(file.resolve("magic_close"))};
        return found.open && found.load && found.buffer && found.close ? found : MagicLibrary{};
    }();
    return library;
}

// One libmagic handle per thread: handles may not be shared, and loading the
// compiled database costs more than a lookup.
class Magic {
public:
    Magic()
        : lib_(magicLibrary())
        , cookie_(lib_.open ? lib_.open(MAGIC_MIME_TYPE) : nullptr) {
        if (cookie_ && lib_.load(cookie_, nullptr) != 0) {
            lib_.close(cookie_);
            cookie_ = nullptr;
        }
    }
    ~Magic() {
        if (cookie_)
            lib_.close(cookie_);
    }
    Magic(const Magic&) = delete;
    Magic& operator=(const Magic&) = delete;

    QString typeOf(const QByteArray& bytes) const {
        if (!cookie_)
            return {};
        const char* type = lib_.buffer(cookie_, bytes.constData(), size_t(bytes.size()));
        return type ? QString::fromLatin1(type) : QString();
    }

private:
    const MagicLibrary& lib_;
    magic_t cookie_;
};

// libmagic's names for types the MIME database calls otherwise.
QString inDatabaseTerms(const QString& magicType) {
    static const QHash<QString, QString> renamed = {
        {"application/vnd.microsoft.portable-executable", "application/x-ms-dos-executable"},
        {"application/x-dosexec", "application/x-ms-dos-executable"},
        {"application/x-pie-executable", "application/x-executable"},
        {"text/x-script.python", "text/x-python"},
        {"application/x-bytecode.python", "application/x-python-bytecode"},
        {"text/x-c++", "text/x-c++src"},
    };
    if (magicType.isEmpty() || magicType == unknownBytes || magicType.endsWith(u"x-empty"))
        return {};
    const QString type = renamed.value(magicType, magicType);
    QMimeDatabase db;
    if (const QMimeType known = db.mimeTypeForName(type); known.isValid())
        return known.name();
    // text/x-shellscript here is application/x-shellscript there, and so on.
    QString swapped = type;
    if (type.startsWith(u"text/"))
        swapped.replace(0, 4, QStringLiteral("application"));
    else if (type.startsWith(u"application/"))
        swapped.replace(0, 11, QStringLiteral("text"));
    const QMimeType known = db.mimeTypeForName(swapped);
    return known.isValid() ? known.name() : type;
}

} // namespace

ContentType typeByContent(const QByteArray& head) {
    thread_local const Magic magic;
    ContentType content;
    content.magic = magic.typeOf(head);
    const QString database = QMimeDatabase().mimeTypeForData(head).name();
    const QString second = inDatabaseTerms(content.magic);
    if (database == unknownBytes) {
        content.type = second;
    } else if (!second.isEmpty() && second != database && isA(second, database)) {
        content.type = second;
        // Which kind of text rests on libmagic's heuristics.
        content.textGuess = isA(database, plainText);
    } else {
        content.type = database;
        content.other = second != database ? second : QString();
        // The database's weaker text rules (a C comment, a "%" line) are
        // trusted where libmagic sees more than plain text.
        content.textGuess = database != plainText && isA(database, plainText) &&
                            (second.isEmpty() || second == plainText);
    }
    return content;
}

Answer answer(const ContentType& content, const QStringList& nameTypes) {
    if (content.type.isEmpty()) {
        const QString name = nameTypes.value(0);
        return {name, name.isEmpty() ? Basis::Nothing : Basis::Name, name};
    }
    for (const QString& name : nameTypes) {
        if (name == content.type)
            return {content.type, Basis::Content, name};
    }
    for (const QString& name : nameTypes) {
        const bool refines = isA(name, content.type);
        const bool settles = !content.other.isEmpty() && isA(name, content.other);
        const bool namesTheText = content.textGuess && isA(name, plainText);
        if (refines || settles || namesTheText)
            return {name, Basis::ContentAndName, name};
    }
    // Otherwise the meaning closest to the content: one it descends from
    // (an SVG under .xml), one of its family, any text meaning for text (a
    // script under .ts is TypeScript, not a video).
    const Family family = familyOf(content.type);
    const bool text = isA(content.type, plainText);
    for (const QString& name : nameTypes) {
        if (isA(content.type, name) || (family != Family::Unknown && familyOf(name) == family) ||
            (text && isA(name, plainText)))
            return {content.type, Basis::Content, name};
    }
    // A kind of text that was only guessed ("%" starts MATLAB) accuses no
    // name of lying: what is sure is that it is text.
    const QString sure = content.textGuess ? plainText : content.type;
    return {sure, Basis::Content, nameTypes.value(0)};
}

} // namespace filecheck

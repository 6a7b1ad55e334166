#include "content.h"

#include "kinds.h"

#include <QHash>
#include <QMimeDatabase>
#include <magic.h>

namespace filecheck {
namespace {

const QString plainText = QStringLiteral("text/plain");
const QString unknownBytes = QStringLiteral("application/octet-stream");

// One libmagic handle per thread: handles may not be shared, and loading the
// compiled database costs more than a lookup.
class Magic {
public:
    Magic()
        : cookie_(magic_open(MAGIC_MIME_TYPE)) {
        if (cookie_ && magic_load(cookie_, nullptr) != 0) {
            magic_close(cookie_);
            cookie_ = nullptr;
        }
    }
    ~Magic() {
        if (cookie_)
            magic_close(cookie_);
    }
    Magic(const Magic&) = delete;
    Magic& operator=(const Magic&) = delete;

    QString typeOf(const QByteArray& bytes) const {
        if (!cookie_)
            return {};
        const char* type = magic_buffer(cookie_, bytes.constData(), size_t(bytes.size()));
        return type ? QString::fromLatin1(type) : QString();
    }

private:
    magic_t cookie_;
};

// libmagic's names for types the MIME database calls otherwise.
QString inDatabaseTerms(const QString& magicType) {
    static const QHash<QString, QString> renamed = {
        {"application/vnd.microsoft.portable-executable", "application/x-ms-dos-executable"},
        {"application/x-dosexec", "application/x-ms-dos-executable"},
        {"application/x-pie-executable", "application/x-executable"},
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
        content.textGuess = database == plainText;
    } else {
        content.type = database;
    }
    return content;
}

Answer answer(const ContentType& content, const QString& nameType) {
    if (content.type.isEmpty())
        return {nameType, nameType.isEmpty() ? Basis::Nothing : Basis::Name};
    const bool refines = nameType != content.type && isA(nameType, content.type);
    const bool namesTheText =
        content.textGuess && nameType != content.type && isA(nameType, plainText);
    if (refines || namesTheText)
        return {nameType, Basis::ContentAndName};
    return {content.type, Basis::Content};
}

} // namespace filecheck

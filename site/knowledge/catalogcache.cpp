#include "catalogcache.h"

#include "filestamp.h"
#include "safefs.h"
#include "sitelog.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace catalogcache {
namespace {

// Raised whenever what the catalog's reading extracts changes shape.
constexpr quint32 magic = 0x51564331; // "QVC1"
constexpr quint32 version = 2;
// Far above any catalog's extract; a larger file is no cache of ours.
constexpr qint64 maxBytes = 64 * 1024 * 1024;

QByteArray fileNameFor(const QString& directory) {
    return "catalog-" + QCryptographicHash::hash(directory.toUtf8(), QCryptographicHash::Sha256)
                            .toHex()
                            .left(16);
}

// The site's own folder in the user's cache. The cache folder itself may be
// wherever the user points it; below it nothing is followed, so a link or a
// FIFO planted in the site's folder is never read through or written through.
int openFolder(bool create, safefs::Fd* folder) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (create) {
        QDir().mkpath(base);
    }
    const safefs::Fd cache(
        ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!cache.isOpen()) {
        return errno;
    }
    return safefs::openDirectory(cache.get(), "quelvix-site", create, folder);
}

void cannotKeep(int error) {
    qCDebug(lcCatalog, "%s",
            qUtf8Printable(sitelog::say("软件目录的读出结果存不下：%1",
                                        "cannot keep what the software catalog gave: %1")
                               .arg(QString::fromLocal8Bit(std::strerror(error)))));
}

} // namespace

std::optional<Extract> find(const QString& directory, const QStringList& sources) {
    safefs::Fd folder;
    QByteArray content;
    if (openFolder(false, &folder) != 0 ||
        safefs::readFile(folder.get(), fileNameFor(directory), maxBytes, &content) != 0) {
        return std::nullopt;
    }
    QDataStream in(content);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 foundMagic = 0;
    quint32 foundVersion = 0;
    QStringList keptSources;
    QList<qint64> keptStamp;
    Extract extract;
    in >> foundMagic >> foundVersion;
    if (foundMagic != magic || foundVersion != version) {
        return std::nullopt;
    }
    in >> keptSources >> keptStamp >> extract.programs >> extract.choices >> extract.families;
    if (in.status() != QDataStream::Ok || !in.atEnd() || keptSources != sources ||
        keptStamp != filestamp::of(sources)) {
        return std::nullopt;
    }
    return extract;
}

void keep(const QString& directory, const QStringList& sources, const Extract& extract) {
    QByteArray content;
    {
        QDataStream out(&content, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << magic << version << sources << filestamp::of(sources) << extract.programs
            << extract.choices << extract.families;
    }
    safefs::Fd folder;
    if (const int error = openFolder(true, &folder)) {
        cannotKeep(error);
        return;
    }
    // Written aside under a name of its own, then renamed over whatever is
    // there: a link or a FIFO in its place is replaced, never opened.
    const QByteArray name = fileNameFor(directory);
    const QByteArray aside = name + '.' + QByteArray::number(getpid()) + '.' +
                             QByteArray::number(QRandomGenerator::global()->generate(), 16);
    int error = safefs::writeNewFile(folder.get(), aside, content, false);
    if (error == 0 &&
        ::renameat(folder.get(), aside.constData(), folder.get(), name.constData()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlinkat(folder.get(), aside.constData(), 0);
        cannotKeep(error);
    }
}

} // namespace catalogcache

#include "catalogcache.h"

#include "filestamp.h"
#include "sitelog.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace catalogcache {
namespace {

// Raised whenever what the catalog's reading extracts changes shape.
constexpr quint32 magic = 0x51564331; // "QVC1"
constexpr quint32 version = 2;
// Far above any catalog's extract; a larger file is no cache of ours.
constexpr qint64 maxBytes = 64 * 1024 * 1024;

QString fileFor(const QString& directory) {
    const QByteArray key =
        QCryptographicHash::hash(directory.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/quelvix-site/catalog-") + QString::fromLatin1(key);
}

} // namespace

std::optional<Extract> find(const QString& directory, const QStringList& sources) {
    QFile file(fileFor(directory));
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxBytes) {
        return std::nullopt;
    }
    QDataStream in(&file);
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
    const QString path = fileFor(directory);
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly)) {
        qCDebug(lcCatalog, "软件目录的读出结果存不下：%s", qPrintable(file.errorString()));
        return;
    }
    QDataStream out(&file);
    out.setVersion(QDataStream::Qt_6_0);
    out << magic << version << sources << filestamp::of(sources) << extract.programs
        << extract.choices << extract.families;
    if (out.status() != QDataStream::Ok || !file.commit()) {
        qCDebug(lcCatalog, "软件目录的读出结果存不下：%s", qPrintable(file.errorString()));
    }
}

} // namespace catalogcache

#include "icons.h"

#include "catalog.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QStandardPaths>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <memory>

namespace icons {
namespace {

// Sizes searched first to last: the pages show icons at 48 px or smaller.
const QStringList sizeOrder = {
    QStringLiteral("48x48"),   QStringLiteral("scalable"), QStringLiteral("64x64"),
    QStringLiteral("96x96"),   QStringLiteral("128x128"),  QStringLiteral("256x256"),
    QStringLiteral("512x512"), QStringLiteral("32x32"),    QStringLiteral("24x24"),
    QStringLiteral("22x22"),   QStringLiteral("16x16")};

bool isIconFile(const QString& fileName) {
    return (fileName.endsWith(QLatin1String(".png")) || fileName.endsWith(QLatin1String(".svg"))) &&
           !fileName.contains(QLatin1String("-symbolic"));
}

void indexDirectory(const QString& directory, QHash<QString, QString>* index) {
    QDirIterator files(directory, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        if (isIconFile(file.fileName()) && !index->contains(file.completeBaseName())) {
            index->insert(file.completeBaseName(), file.filePath());
        }
    }
}

// Every themed icon name to its best file, first found wins.
QHash<QString, QString> buildIndex() {
    QHash<QString, QString> index;
    const QStringList dataDirs =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const char* theme : {"Adwaita", "hicolor"}) {
        for (const QString& size : sizeOrder) {
            for (const QString& dataDir : dataDirs) {
                indexDirectory(
                    dataDir + QStringLiteral("/icons/") + theme + QLatin1Char('/') + size, &index);
            }
        }
    }
    for (const QString& dataDir : dataDirs) {
        indexDirectory(dataDir + QStringLiteral("/pixmaps"), &index);
    }
    return index;
}

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Type:
        return "type";
    case Kind::Program:
        return "program";
    case Kind::Catalog:
        return "catalog";
    }
    return "";
}

} // namespace

bool isPlainName(const QString& name) {
    if (name.isEmpty() || name.size() > 255 || name.startsWith(QLatin1Char('.'))) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c.unicode() < 0x80 && c.isLetterOrNumber()) || c == QLatin1Char('.') ||
               c == QLatin1Char('_') || c == QLatin1Char('+') || c == QLatin1Char('-');
    });
}

QString address(Kind kind, const QString& name, const QString& file) {
    if (file.isEmpty() || !isPlainName(name)) {
        return {};
    }
    const QString suffix =
        file.endsWith(QLatin1String(".svg")) ? QStringLiteral(".svg") : QStringLiteral(".png");
    return QStringLiteral("/icons/%1/%2%3").arg(QLatin1String(kindName(kind)), name, suffix);
}

bool parseAddress(const QByteArray& path, Kind* kind, QString* name) {
    for (const Kind candidate : {Kind::Type, Kind::Program, Kind::Catalog}) {
        const QByteArray prefix = QByteArray("/icons/") + kindName(candidate) + '/';
        if (path.startsWith(prefix) && (path.endsWith(".png") || path.endsWith(".svg"))) {
            *kind = candidate;
            *name = QString::fromLatin1(path.mid(prefix.size(), path.size() - prefix.size() - 4));
            return isPlainName(*name);
        }
    }
    return false;
}

std::shared_ptr<const QHash<QString, QString>> Themes::index() const {
    const QMutexLocker locker(&m_lock);
    if (!m_index) {
        m_index = std::make_shared<const QHash<QString, QString>>(buildIndex());
    }
    return m_index;
}

QString Themes::file(const QString& name) const {
    return isPlainName(name) ? index()->value(name) : QString();
}

QString Themes::programFile(const QString& desktopId) const {
    const QByteArray id = desktopId.toUtf8();
    std::unique_ptr<GDesktopAppInfo, decltype(&g_object_unref)> app(
        g_desktop_app_info_new(id.constData()), g_object_unref);
    return app ? programFile(G_APP_INFO(app.get())) : QString();
}

QString Themes::programFile(GAppInfo* app) const {
    GIcon* icon = g_app_info_get_icon(app);
    if (G_IS_THEMED_ICON(icon)) {
        for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon)); *name;
             ++name) {
            const QString found = file(QString::fromUtf8(*name));
            if (!found.isEmpty()) {
                return found;
            }
        }
    } else if (G_IS_FILE_ICON(icon)) {
        char* path = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon)));
        const QString found = QString::fromUtf8(path);
        g_free(path);
        return isIconFile(found) ? found : QString();
    }
    return {};
}

void Themes::forget() {
    const QMutexLocker locker(&m_lock);
    m_index.reset();
}

// The address must be the one the file found would have, so one file has
// one address and no other spelling reaches it.
QString resolve(const QByteArray& path, const Themes& themes, const catalog::Catalog& catalog,
                bool isPublic) {
    Kind kind{};
    QString name;
    if (!parseAddress(path, &kind, &name) || (isPublic && kind == Kind::Program)) {
        return {};
    }
    const QString file = kind == Kind::Type      ? themes.file(name)
                         : kind == Kind::Program ? themes.programFile(name)
                                                 : catalog.iconFile(name);
    return !file.isEmpty() && address(kind, name, file) == QString::fromLatin1(path) ? file
                                                                                     : QString();
}

QByteArray contentType(const QString& file) {
    return file.endsWith(QLatin1String(".svg")) ? QByteArrayLiteral("image/svg+xml")
                                                : QByteArrayLiteral("image/png");
}

} // namespace icons

#include "catalog.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <algorithm>
#include <appstream.h>

namespace catalog {
namespace {

// Where the distribution's package manager puts the catalog.
const QStringList systemCatalogDirs = {
    QStringLiteral("/var/lib/swcatalog/yaml"), QStringLiteral("/var/lib/app-info/yaml"),
    QStringLiteral("/usr/share/swcatalog/xml"), QStringLiteral("/usr/share/swcatalog/yaml")};

QString text(const char* value) {
    return value ? QString::fromUtf8(value) : QString();
}

QString cachedIcon(AsComponent* component) {
    GPtrArray* icons = as_component_get_icons(component);
    for (guint i = 0; icons && i < icons->len; ++i) {
        auto* icon = static_cast<AsIcon*>(g_ptr_array_index(icons, i));
        if (as_icon_get_kind(icon) == AS_ICON_KIND_CACHED && as_icon_get_width(icon) == 48) {
            return text(as_icon_get_filename(icon));
        }
    }
    return {};
}

QStringList desktopIdsOf(AsComponent* component) {
    QStringList ids;
    if (AsLaunchable* launchable =
            as_component_get_launchable(component, AS_LAUNCHABLE_KIND_DESKTOP_ID)) {
        GPtrArray* entries = as_launchable_get_entries(launchable);
        for (guint i = 0; entries && i < entries->len; ++i) {
            ids << text(static_cast<const char*>(g_ptr_array_index(entries, i)));
        }
    }
    // Older catalogs name the program by its desktop file alone.
    const QString id = text(as_component_get_id(component));
    ids << (id.endsWith(QLatin1String(".desktop")) ? id : id + QStringLiteral(".desktop"));
    return ids;
}

Program programOf(AsComponent* component, bool exact) {
    return {text(as_component_get_id(component)),
            text(as_component_get_name(component)),
            text(as_component_get_summary(component)),
            text(as_component_get_pkgname(component)),
            cachedIcon(component),
            desktopIdsOf(component),
            exact};
}

} // namespace

// The library's pool is not made for concurrent queries; one lock serves,
// since answers are kept.
struct Catalog::Pool {
    AsPool* pool = as_pool_new();
    bool loaded = false;
    QMutex lock;
    QHash<QString, QList<Program>> byType; // under the lock
    ~Pool() { g_object_unref(pool); }
};

Catalog::~Catalog() = default;

std::shared_ptr<const Catalog> Catalog::load(const QString& directory) {
    std::shared_ptr<Catalog> catalog(new Catalog);
    catalog->m_directory = directory;
    catalog->m_pool = std::make_unique<Pool>();
    AsPool* pool = catalog->m_pool->pool;
    as_pool_set_locale(pool, "zh_CN");
    // Only the catalog: installed programs come from GIO.
    as_pool_set_flags(pool, AS_POOL_FLAG_LOAD_OS_CATALOG);
    if (!directory.isEmpty()) {
        as_pool_set_load_std_data_locations(pool, FALSE);
        as_pool_add_extra_data_location(pool, QFile::encodeName(directory).constData(),
                                        AS_FORMAT_STYLE_CATALOG);
    }
    const QStringList files = catalog->files();
    catalog->m_installed = std::any_of(
        files.cbegin(), files.cend(), [](const QString& file) { return QFileInfo(file).isFile(); });
    GError* error = nullptr;
    // A partly unreadable catalog still loads what it can, and says so.
    const bool loaded = as_pool_load(pool, nullptr, &error) ||
                        g_error_matches(error, AS_POOL_ERROR, AS_POOL_ERROR_INCOMPLETE);
    g_clear_error(&error);
    catalog->m_pool->loaded = catalog->m_installed && loaded;
    return catalog;
}

bool Catalog::isInstalled() const {
    return m_installed;
}

bool Catalog::isAvailable() const {
    return m_pool->loaded;
}

// Asking the library is slow (it rebuilds every component it returns from its
// cache), and a loaded catalog never changes, so each type's answer is kept.
QList<Program> Catalog::query(const QStringList& types, bool exact, QSet<QString>* seen) const {
    QList<Program> programs;
    for (const QString& type : types) {
        auto known = m_pool->byType.constFind(type);
        if (known == m_pool->byType.cend()) {
            QList<Program> found;
            GPtrArray* components = as_pool_get_components_by_provided_item(
                m_pool->pool, AS_PROVIDED_KIND_MEDIATYPE, type.toUtf8().constData());
            for (guint i = 0; components && i < components->len; ++i) {
                auto* component = static_cast<AsComponent*>(g_ptr_array_index(components, i));
                if (as_component_get_kind(component) == AS_COMPONENT_KIND_DESKTOP_APP) {
                    found << programOf(component, false);
                }
            }
            if (components) {
                g_ptr_array_unref(components);
            }
            known = m_pool->byType.insert(type, found);
        }
        for (Program program : *known) {
            if (!seen->contains(program.id)) {
                seen->insert(program.id);
                program.exact = exact;
                programs << program;
            }
        }
    }
    return programs;
}

QList<Program> Catalog::programsFor(const QStringList& types,
                                    const QStringList& parentTypes) const {
    if (!m_pool->loaded) {
        return {};
    }
    QSet<QString> seen;
    QList<Program> programs;
    {
        const QMutexLocker locker(&m_pool->lock);
        programs = query(types, true, &seen) + query(parentTypes, false, &seen);
    }
    QCollator byName(QLocale(QLocale::Chinese, QLocale::China));
    std::stable_sort(programs.begin(), programs.end(), [&](const Program& a, const Program& b) {
        if (a.exact != b.exact) {
            return a.exact;
        }
        const int order = byName.compare(a.name, b.name);
        return order != 0 ? order < 0 : a.id < b.id;
    });
    return programs;
}

QString Catalog::iconFile(const QString& componentId) const {
    const QMutexLocker locker(&m_pool->lock);
    GPtrArray* found = as_pool_get_components_by_id(m_pool->pool, componentId.toUtf8().constData());
    const QString file = found && found->len > 0
                             ? cachedIcon(static_cast<AsComponent*>(g_ptr_array_index(found, 0)))
                             : QString();
    if (found) {
        g_ptr_array_unref(found);
    }
    return file;
}

QStringList Catalog::files() const {
    const QStringList dirs =
        m_directory.isEmpty() ? systemCatalogDirs : QStringList{m_directory + "/yaml"};
    QStringList files;
    for (const QString& dir : dirs) {
        files << dir;
        for (const QFileInfo& file : QDir(dir).entryInfoList(QDir::Files)) {
            files << file.filePath();
        }
    }
    return files;
}

} // namespace catalog

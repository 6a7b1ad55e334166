#include "catalog.h"

#include "catalogcache.h"
#include "distribution.h"
#include "sitelog.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>
#include <appstream.h>
#include <malloc.h>
#include <numeric>
#include <system_error>

namespace catalog {
namespace {

// On a thread of its own, or, when the system will start no more threads,
// on the thread that first waits for it.
template <typename Function, typename... Arguments>
auto beside(Function&& function, Arguments&&... arguments) {
    try {
        return std::async(std::launch::async, function, arguments...);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, function, arguments...);
    }
}

// Where the distribution's package manager puts the catalog.
const QStringList systemCatalogDirs = {
    QStringLiteral("/var/lib/swcatalog/yaml"), QStringLiteral("/var/lib/app-info/yaml"),
    QStringLiteral("/usr/share/swcatalog/xml"), QStringLiteral("/usr/share/swcatalog/yaml")};

QString text(const char* value) {
    return value ? QString::fromUtf8(value) : QString();
}

QStringList texts(GPtrArray* values) {
    QStringList list;
    for (guint i = 0; values && i < values->len; ++i) {
        list << text(static_cast<const char*>(g_ptr_array_index(values, i)));
    }
    return list;
}

// The pages show no icon larger than this.
constexpr char iconSize[] = "48x48";

// Where a catalog's cached icons are: icons/<origin>/48x48/ beside each folder
// of its data.
QStringList iconRoots(const QString& directory) {
    const QStringList dirs =
        directory.isEmpty() ? systemCatalogDirs : QStringList{directory + "/yaml"};
    QStringList roots;
    for (const QString& dir : dirs) {
        roots << QFileInfo(dir).path() + QStringLiteral("/icons");
    }
    roots.removeDuplicates();
    return roots;
}

// The folders whose change means other icons: each root, where an origin's
// folder comes, and each origin's 48 px folder, where its icons come.
QStringList iconFolders(const QString& directory) {
    QStringList folders;
    for (const QString& root : iconRoots(directory)) {
        folders << root;
        for (const QString& origin : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            folders << root + u'/' + origin + u'/' + QLatin1String(iconSize);
        }
    }
    return folders;
}

// The 48 px file of a component's cached icon. The library gives its place
// only where the file was there when it last kept its reading of the catalog,
// and it keeps that reading while the catalog's data is unchanged, though the
// icons come later or anew: then the icon is found by its name, which
// Debian's catalog gives the same for every size and the remote copy.
QString cachedIcon(AsComponent* component, const QStringList& roots) {
    GPtrArray* icons = as_component_get_icons(component);
    QStringList names;
    for (guint i = 0; icons && i < icons->len; ++i) {
        auto* icon = static_cast<AsIcon*>(g_ptr_array_index(icons, i));
        const AsIconKind kind = as_icon_get_kind(icon);
        if (kind == AS_ICON_KIND_CACHED && as_icon_get_width(icon) == 48 &&
            as_icon_get_filename(icon)) {
            return text(as_icon_get_filename(icon));
        }
        if (kind == AS_ICON_KIND_CACHED || kind == AS_ICON_KIND_REMOTE) {
            names << text(as_icon_get_name(icon));
        }
    }
    const QString origin = text(as_component_get_origin(component));
    const auto isFileName = [](const QString& name) {
        return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/');
    };
    if (!isFileName(origin)) {
        return {};
    }
    for (const QString& name : names) {
        for (const QString& root : roots) {
            const QString file =
                root + u'/' + origin + u'/' + QLatin1String(iconSize) + u'/' + name;
            if (isFileName(name) && QFileInfo(file).isFile()) {
                return file;
            }
        }
    }
    return {};
}

QStringList desktopIdsOf(AsComponent* component) {
    QStringList ids;
    if (AsLaunchable* launchable =
            as_component_get_launchable(component, AS_LAUNCHABLE_KIND_DESKTOP_ID)) {
        ids = texts(as_launchable_get_entries(launchable));
    }
    // Older catalogs name the program by its desktop file alone.
    const QString id = text(as_component_get_id(component));
    ids << (id.endsWith(QLatin1String(".desktop")) ? id : id + QStringLiteral(".desktop"));
    return ids;
}

QStringList mediaTypesOf(AsComponent* component) {
    AsProvided* provided =
        as_component_get_provided_for_kind(component, AS_PROVIDED_KIND_MEDIATYPE);
    QStringList types = provided ? texts(as_provided_get_items(provided)) : QStringList();
    types.removeDuplicates();
    return types;
}

// Type and category names recur across the catalog: one copy of each is
// kept, shared.
QStringList shared(const QStringList& names, QSet<QString>* known) {
    QStringList kept;
    kept.reserve(names.size());
    for (const QString& name : names) {
        kept << *known->insert(name);
    }
    return kept;
}

// A type met over and over in the catalog is looked up once.
QList<int> familiesOf(const QStringList& types, QHash<QString, int>* known) {
    QList<int> families;
    for (const QString& type : types) {
        auto found = known->constFind(type);
        if (found == known->cend()) {
            found = known->insert(type, ranking::familyOf(type));
        }
        families << *found;
    }
    return families;
}

QList<bool> formatsOf(const QStringList& types, QHash<QString, bool>* known) {
    QList<bool> formats;
    for (const QString& type : types) {
        auto found = known->constFind(type);
        if (found == known->cend()) {
            found = known->insert(type, ranking::isFormat(type));
        }
        formats << *found;
    }
    return formats;
}

struct PoolDeleter {
    void operator()(AsPool* pool) const { g_object_unref(pool); }
};
using Pool = std::unique_ptr<AsPool, PoolDeleter>;

// The library keeps what it loaded in a cache of its own; only its desktop
// programs are taken out of it, then the pool is let go.
Pool loadPool(const QString& directory, bool* loaded, bool* complete) {
    Pool pool(as_pool_new());
    as_pool_set_locale(pool.get(), "zh_CN");
    // Only the catalog: installed programs come from GIO.
    as_pool_set_flags(pool.get(), AS_POOL_FLAG_LOAD_OS_CATALOG);
    if (!directory.isEmpty()) {
        as_pool_set_load_std_data_locations(pool.get(), FALSE);
        as_pool_add_extra_data_location(pool.get(), QFile::encodeName(directory).constData(),
                                        AS_FORMAT_STYLE_CATALOG);
    }
    GError* error = nullptr;
    // A partly unreadable catalog still loads what it can, and says so.
    *complete = as_pool_load(pool.get(), nullptr, &error);
    *loaded = *complete || g_error_matches(error, AS_POOL_ERROR, AS_POOL_ERROR_INCOMPLETE);
    if (error) {
        qCWarning(lcCatalog, "软件目录%s：%s", *loaded ? "有部分读不了" : "读不了", error->message);
    }
    g_clear_error(&error);
    return pool;
}

// One package's programs as one entry, in the place of its best fit.
QList<Program> onePerPackage(const QList<Program>& ranked) {
    QList<Program> entries;
    QHash<QString, qsizetype> entryOf;
    for (const Program& program : ranked) {
        const QString key = program.package.isEmpty() ? program.id : program.package;
        const auto found = entryOf.constFind(key);
        if (found != entryOf.cend()) {
            ++entries[*found].siblings;
            continue;
        }
        entryOf.insert(key, entries.size());
        entries << program;
    }
    return entries;
}

QStringList catalogFiles(const QString& directory) {
    const QStringList dirs =
        directory.isEmpty() ? systemCatalogDirs : QStringList{directory + "/yaml"};
    QStringList files;
    for (const QString& dir : dirs) {
        files << dir;
        for (const QFileInfo& file : QDir(dir).entryInfoList(QDir::Files)) {
            files << file.filePath();
        }
    }
    return files + iconFolders(directory);
}

// What the tables need of each program that opens any type, as text: the
// library's objects are many and short-lived, and the tables, built after
// they are let go, do not lie scattered among their remains.
enum ExtractField { Id, Name, Summary, Package, Icon, DesktopIds, MediaTypes, Categories, Fields };
constexpr char fieldEnd = '\x1f';
constexpr char listEnd = '\x1e';
constexpr char recordEnd = '\x1d';

// A text with none of the separators, which no catalog text needs.
QByteArray withoutSeparators(const QByteArray& text) {
    QByteArray cleaned = text;
    cleaned.removeIf([](char c) { return c == fieldEnd || c == listEnd || c == recordEnd; });
    return cleaned;
}

QByteArray joined(const QStringList& items) {
    QByteArrayList fields;
    for (const QString& item : items) {
        fields << withoutSeparators(item.toUtf8());
    }
    return fields.join(listEnd);
}

QList<QByteArrayView> split(QByteArrayView text, char separator) {
    QList<QByteArrayView> parts;
    qsizetype start = 0;
    for (qsizetype end = text.indexOf(separator); end >= 0; end = text.indexOf(separator, start)) {
        parts << text.sliced(start, end - start);
        start = end + 1;
    }
    parts << text.sliced(start);
    return parts;
}

QStringList list(QByteArrayView field) {
    QStringList items;
    for (const QByteArrayView item : split(field, listEnd)) {
        if (!item.isEmpty()) {
            items << QString::fromUtf8(item);
        }
    }
    return items;
}

QByteArray extractPrograms(AsPool* pool, const QStringList& roots) {
    QByteArray extract;
    GPtrArray* components = as_pool_get_components_by_kind(pool, AS_COMPONENT_KIND_DESKTOP_APP);
    for (guint i = 0; components && i < components->len; ++i) {
        auto* component = static_cast<AsComponent*>(g_ptr_array_index(components, i));
        // Those that declare no type are kept too: the advice may name them
        // for a format their desktop file does not list (LibreCAD for DWG).
        const QStringList types = mediaTypesOf(component);
        const QByteArrayList fields = {withoutSeparators(as_component_get_id(component)),
                                       withoutSeparators(as_component_get_name(component)),
                                       withoutSeparators(as_component_get_summary(component)),
                                       withoutSeparators(as_component_get_pkgname(component)),
                                       withoutSeparators(cachedIcon(component, roots).toUtf8()),
                                       joined(desktopIdsOf(component)),
                                       joined(types),
                                       joined(texts(as_component_get_categories(component)))};
        extract += fields.join(fieldEnd) + recordEnd;
    }
    if (components) {
        g_ptr_array_unref(components);
    }
    return extract;
}

// The library's reading of the catalog, beside the count of the package
// lists, which waits mostly on apt's helper and so goes on meanwhile.
// Nothing when the catalog could not be read; kept only when it was read whole.
std::optional<catalogcache::Extract> extractFrom(const QString& directory) {
    std::future<QHash<QString, int>> choices = beside(distribution::desktopChoices);
    bool loaded = false;
    catalogcache::Extract extract;
    {
        const Pool pool = loadPool(directory, &loaded, &extract.complete);
        if (loaded) {
            extract.programs = extractPrograms(pool.get(), iconRoots(directory));
        }
    }
    extract.choices = choices.get();
    if (!loaded) {
        return std::nullopt;
    }
    return extract;
}

// What the kept reading depends on besides the catalog and the package
// lists: the MIME databases, since the programs' types are sorted into
// families by them, and this program, whose data names the families.
QStringList sourcesOf(const QString& directory) {
    QStringList sources = catalogFiles(directory) + distribution::packageLists();
    for (const QString& dataDir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        sources << dataDir + QStringLiteral("/mime/mime.cache");
    }
    return sources << QCoreApplication::applicationFilePath();
}

} // namespace

Catalog::~Catalog() = default;

void Catalog::Tables::add(Component component) {
    const Program& shown = component.shown;
    if (byId.contains(shown.id)) {
        return;
    }
    const int index = int(components.size());
    byId.insert(shown.id, index);
    for (const QString& id : shown.desktopIds) {
        byDesktopId.insert(id, index);
    }
    for (const QString& type : component.traits.types) {
        byType[type] << index;
    }
    byPackage[component.traits.package] << index;
    components << std::move(component);
}

void Catalog::Tables::orderByName() {
    QList<int> sorted(components.size());
    std::iota(sorted.begin(), sorted.end(), 0);
    QCollator byName(QLocale(QLocale::Chinese, QLocale::China));
    std::sort(sorted.begin(), sorted.end(), [&](int a, int b) {
        const Program& first = components[a].shown;
        const Program& second = components[b].shown;
        const int order = byName.compare(first.name, second.name);
        return order != 0 ? order < 0 : first.id < second.id;
    });
    nameOrder.resize(components.size());
    for (qsizetype place = 0; place < sorted.size(); ++place) {
        nameOrder[sorted[place]] = int(place);
    }
}

Catalog::Component Catalog::componentOf(const QList<QByteArrayView>& fields, Interned* interned) {
    const QStringList types = shared(list(fields[MediaTypes]), &interned->names);
    const QString package = QString::fromUtf8(fields[Package]);
    const QStringList categories = shared(list(fields[Categories]), &interned->names);
    const QString summary = QString::fromUtf8(fields[Summary]);
    const QString line = ranking::chineseLine(summary, categories);
    return {{QString::fromUtf8(fields[Id]),
             QString::fromUtf8(fields[Name]),
             line,
             package,
             QString::fromUtf8(fields[Icon]),
             list(fields[DesktopIds]),
             {},
             0,
             /*icon: filled in by a lookup*/ {},
             true,
             line == summary ? QString() : summary},
            {types, familiesOf(types, &interned->families), formatsOf(types, &interned->formats),
             categories, package, interned->choices.value(package),
             ranking::describedBy(QString::fromUtf8(fields[Id]))}};
}

std::shared_ptr<const Catalog::Tables> Catalog::read(const QString& directory) {
    QElapsedTimer timer;
    timer.start();
    auto tables = std::make_shared<Tables>();
    const QStringList sources = sourcesOf(directory);
    std::optional<catalogcache::Extract> extract = catalogcache::find(directory, sources);
    const bool kept = extract.has_value();
    if (!kept) {
        extract = extractFrom(directory);
        if (!extract) {
            return tables;
        }
        // The library's objects are gone, so the tables are built in one piece.
        malloc_trim(0);
    }
    tables->loaded = true;
    Interned interned;
    interned.choices = extract->choices;
    interned.families = extract->families;
    for (const QByteArrayView record : split(extract->programs, recordEnd)) {
        const QList<QByteArrayView> fields = split(record, fieldEnd);
        if (fields.size() == Fields) { // not the empty one after the last record
            tables->add(componentOf(fields, &interned));
        }
    }
    if (!kept && extract->complete) {
        extract->families = interned.families;
        catalogcache::keep(directory, sources, *extract);
    }
    tables->orderByName();
    const QByteArray where = directory.isEmpty() ? QByteArray() : "（" + directory.toUtf8() + "）";
    qCInfo(lcCatalog, "已读入软件目录%s：%lld 个组件，用时 %lld 毫秒%s", where.constData(),
           qlonglong(tables->components.size()), qlonglong(timer.elapsed()),
           kept ? "（取自上次的读出结果）" : "");
    return tables;
}

std::shared_ptr<const Catalog> Catalog::load(const QString& directory, Reading reading) {
    std::shared_ptr<Catalog> catalog(new Catalog);
    catalog->m_directory = directory;
    const QStringList files = catalogFiles(directory);
    catalog->m_installed = std::any_of(
        files.cbegin(), files.cend(), [](const QString& file) { return QFileInfo(file).isFile(); });
    if (!catalog->m_installed) {
        std::promise<std::shared_ptr<const Tables>> nothing;
        nothing.set_value(std::make_shared<Tables>());
        catalog->m_tables = nothing.get_future().share();
        return catalog;
    }
    catalog->m_tables = beside(&Catalog::read, directory).share();
    if (reading == Reading::Whole) {
        catalog->m_tables.wait();
    }
    return catalog;
}

bool Catalog::isInstalled() const {
    return m_installed;
}

bool Catalog::isAvailable() const {
    return m_installed && tables()->loaded;
}

QList<Program> Catalog::programsFor(const ranking::Target& target) const {
    return m_rankings.get(target.type, [&](const QString&) { return rank(target); });
}

void Catalog::forgetRankings() const {
    m_rankings.forget();
}

QList<Program> Catalog::rank(const ranking::Target& target) const {
    const std::shared_ptr<const Tables> tables = this->tables();
    const Tables& known = *tables;
    QSet<int> candidates;
    const auto addDeclaring = [&](const QString& type) {
        for (int index : known.byType.value(type)) {
            candidates.insert(index);
        }
    };
    addDeclaring(target.type);
    std::for_each(target.aliases.begin(), target.aliases.end(), addDeclaring);
    for (const QStringList& ancestor : target.ancestors) {
        std::for_each(ancestor.begin(), ancestor.end(), addDeclaring);
    }
    struct Ranked {
        int index;
        ranking::Fit fit;
    };
    QList<Ranked> ranked;
    ranked.reserve(candidates.size());
    for (int index : candidates) {
        const ranking::Fit fit = ranking::fitOf(target, known.components[index].traits);
        if (!fit.unfit) {
            ranked.append({index, fit});
        }
    }
    std::sort(ranked.begin(), ranked.end(), [&](const Ranked& a, const Ranked& b) {
        const int byFit = ranking::compare(a.fit, b.fit);
        return byFit != 0 ? byFit < 0 : known.nameOrder[a.index] < known.nameOrder[b.index];
    });
    QList<Program> programs;
    programs.reserve(ranked.size());
    for (const Ranked& one : ranked) {
        programs << known.components[one.index].shown;
        programs.last().fit = one.fit;
    }
    return onePerPackage(programs);
}

std::optional<Program> Catalog::programOf(const QString& package,
                                          const ranking::Target& target) const {
    const std::shared_ptr<const Tables> tables = this->tables();
    const Tables& known = *tables;
    std::optional<Program> best;
    for (int index : known.byPackage.value(package)) {
        const ranking::Fit fit = ranking::fitOf(target, known.components[index].traits);
        if (!best || ranking::compare(fit, best->fit) < 0) {
            best = known.components[index].shown;
            best->fit = fit;
        }
    }
    return best;
}

Packaged Catalog::packagedAs(const QString& desktopId) const {
    const std::shared_ptr<const Tables> tables = this->tables();
    const Tables& known = *tables;
    const int index = known.byDesktopId.value(desktopId, -1);
    if (index < 0) {
        return {};
    }
    const ranking::Traits& traits = known.components[index].traits;
    return {traits.package, traits.desktops, traits.described};
}

int Catalog::programCount(const QString& type) const {
    return int(tables()->byType.value(type).size());
}

QString Catalog::iconFile(const QString& componentId) const {
    const std::shared_ptr<const Tables> tables = this->tables();
    const Tables& known = *tables;
    const int index = known.byId.value(componentId, -1);
    return index < 0 ? QString() : known.components[index].shown.iconFile;
}

// The package lists count too: which programs the desktops ship is read from them.
QStringList Catalog::files() const {
    return catalogFiles(m_directory) + distribution::packageLists();
}

} // namespace catalog

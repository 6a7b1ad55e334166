#include "knowledge.h"

#include "icons.h"

#include <QLocale>
#include <QMimeDatabase>
#include <QMutex>
#include <algorithm>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <memory>

namespace knowledge {
namespace {

QString fromUtf8(const char* text) {
    return text ? QString::fromUtf8(text) : QString();
}

Program programOf(GAppInfo* app, bool isDefault) {
    const QString id = fromUtf8(g_app_info_get_id(app));
    return {fromUtf8(g_app_info_get_name(app)), id, fromUtf8(g_app_info_get_description(app)),
            isDefault, icons::programIconFile(app)};
}

struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, GObjectDeleter>;

// The default program first, then every other one that declares the type.
QList<Program> programsFor(const QString& mimeType) {
    const QByteArray type = mimeType.toUtf8();
    QList<Program> programs;
    const AppInfo defaultApp(g_app_info_get_default_for_type(type.constData(), FALSE));
    if (defaultApp) {
        programs.append(programOf(defaultApp.get(), true));
    }
    GList* all = g_app_info_get_all_for_type(type.constData());
    for (GList* item = all; item; item = item->next) {
        auto* app = static_cast<GAppInfo*>(item->data);
        if (!defaultApp || !g_app_info_equal(app, defaultApp.get())) {
            programs.append(programOf(app, false));
        }
    }
    g_list_free_full(all, g_object_unref);
    return programs;
}

bool isInstalled(const catalog::Program& program) {
    return std::any_of(program.desktopIds.begin(), program.desktopIds.end(), [](const QString& id) {
        const AppInfo app(G_APP_INFO(g_desktop_app_info_new(id.toUtf8().constData())));
        return bool(app);
    });
}

// Every type above this one, but not the one above everything.
QStringList ancestorsOf(const QMimeType& type) {
    QStringList ancestors = type.allAncestors();
    ancestors.removeAll(QStringLiteral("application/octet-stream"));
    return ancestors;
}

QList<catalog::Program> installableFor(const QMimeType& type, const catalog::Catalog& catalog,
                                       Scope scope) {
    QList<catalog::Program> programs =
        catalog.programsFor(QStringList{type.name()} + type.aliases(), ancestorsOf(type));
    if (scope == Scope::Machine) {
        programs.removeIf(isInstalled);
    }
    return programs;
}

void iconOf(const QMimeType& type, Format* format) {
    for (const QString& name : {type.iconName(), type.genericIconName()}) {
        format->iconFile = icons::themedIconFile(name);
        if (!format->iconFile.isEmpty()) {
            format->iconName = name;
            return;
        }
    }
}

Format formatOf(const QMimeType& type, const catalog::Catalog& catalog, Scope scope) {
    Format format{type.name(),
                  type.comment(),
                  type.aliases(),
                  type.parentMimeTypes(),
                  type.suffixes(),
                  type.preferredSuffix(),
                  {},
                  {},
                  scope == Scope::Machine ? programsFor(type.name()) : QList<Program>(),
                  installableFor(type, catalog, scope)};
    iconOf(type, &format);
    return format;
}

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

const QMimeDatabase& database() {
    static const QMimeDatabase mimeDatabase;
    return mimeDatabase;
}

QList<QMimeType> typesFor(const QString& extension) {
    // A slash would make the database read only what follows it as the file name.
    if (extension.isEmpty() || extension.contains(QLatin1Char('/')) ||
        std::any_of(extension.begin(), extension.end(), isControl)) {
        return {};
    }
    return database().mimeTypesForFileName(QStringLiteral("x.") + extension);
}

QMutex knownLock;
std::shared_ptr<const QStringList> known;

std::shared_ptr<const QStringList> extensionList() {
    const QMutexLocker locker(&knownLock);
    if (!known) {
        QStringList all;
        for (const QMimeType& type : database().allMimeTypes()) {
            for (const QString& suffix : type.suffixes()) {
                all << suffix.toLower();
            }
        }
        all.sort();
        all.removeDuplicates();
        known = std::make_shared<const QStringList>(std::move(all));
    }
    return known;
}

bool oneEditApart(QStringView a, QStringView b) {
    if (a.size() > b.size()) {
        std::swap(a, b);
    }
    if (b.size() - a.size() > 1) {
        return false;
    }
    qsizetype i = 0;
    while (i < a.size() && a[i] == b[i]) {
        ++i;
    }
    if (a.size() == b.size()) {
        return i < a.size() && a.mid(i + 1) == b.mid(i + 1);
    }
    return a.mid(i) == b.mid(i + 1);
}

} // namespace

void useSimplifiedChinese() {
    // Descriptions come through QLocale, program names through GLib's language list.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    g_setenv("LANGUAGE", "zh_CN:zh", TRUE);
}

QString normalise(const QString& typed) {
    QString extension = typed.trimmed().toCaseFolded();
    while (extension.startsWith(QLatin1Char('.'))) {
        extension.remove(0, 1);
    }
    if (extension.contains(QLatin1Char('.')) && !typesFor(extension).isEmpty()) {
        const QString matched =
            database().suffixForFileName(QStringLiteral("x.") + extension).toCaseFolded();
        if (!matched.isEmpty()) {
            return matched;
        }
    }
    return extension;
}

Answer lookUp(const QString& typed, const catalog::Catalog& catalog, Scope scope) {
    Answer answer{normalise(typed), {}, scope == Scope::Machine};
    for (const QMimeType& type : typesFor(answer.extension)) {
        answer.formats.append(formatOf(type, catalog, scope));
    }
    return answer;
}

QStringList knownExtensions() {
    return *extensionList();
}

QStringList suggestions(const QString& text) {
    if (text.isEmpty()) {
        return {};
    }
    const std::shared_ptr<const QStringList> all = extensionList();
    QStringList startingWith;
    QStringList nearBy;
    for (const QString& extension : *all) {
        if (extension.startsWith(text) && extension != text) {
            startingWith << extension;
        } else if (oneEditApart(extension, text)) {
            nearBy << extension;
        }
    }
    std::stable_sort(startingWith.begin(), startingWith.end(),
                     [](const QString& a, const QString& b) { return a.size() < b.size(); });
    return (startingWith + nearBy).mid(0, 5);
}

void forget() {
    const QMutexLocker locker(&knownLock);
    known.reset();
    icons::forgetThemes();
}

} // namespace knowledge

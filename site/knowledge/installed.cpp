#include "installed.h"

#include "icons.h"
#include "identitynames.h"
#include "memo.h"
#include "ranking.h"

#include <QFile>
#include <QStandardPaths>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

namespace installed {
namespace {

QString fromUtf8(const char* text) {
    return text ? QString::fromUtf8(text) : QString();
}

struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, GObjectDeleter>;

QStringList supportedTypes(GAppInfo* app) {
    QStringList types;
    for (const char* const* type = g_app_info_get_supported_types(app); type && *type; ++type) {
        types << fromUtf8(*type);
    }
    return types;
}

QStringList categoriesOf(GAppInfo* app) {
    if (!G_IS_DESKTOP_APP_INFO(app)) {
        return {};
    }
    return fromUtf8(g_desktop_app_info_get_categories(G_DESKTOP_APP_INFO(app)))
        .split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// What ranking asks of the types is worked out here, once per program.
App appOf(GAppInfo* app, const icons::Themes& themes) {
    const QStringList types = supportedTypes(app);
    QList<bool> formats;
    formats.reserve(types.size());
    for (const QString& type : types) {
        formats << ranking::isFormat(type);
    }
    return {fromUtf8(g_app_info_get_id(app)),
            fromUtf8(g_app_info_get_name(app)),
            fromUtf8(g_app_info_get_description(app)),
            themes.programFile(app),
            types,
            ranking::familiesOf(types),
            formats,
            categoriesOf(app)};
}

// The app takes any file to tell what it is, and opens none of them.
bool isSelf(GAppInfo* app) {
    const QByteArrayView id(g_app_info_get_id(app));
    const QByteArrayView self(identity::names::applicationId);
    return id.startsWith(self) && id.sliced(self.size()) == QByteArrayView(".desktop");
}

// The programs a mimeapps.list (or the distribution's defaults.list) names
// as the type's default, the desktop's own lists before the shared ones.
QStringList chosenFor(const QString& type) {
    QStringList files;
    QStringList prefixes;
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(':', Qt::SkipEmptyParts)) {
        prefixes << desktop + QLatin1Char('-');
    }
    prefixes << QString();
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        for (const QString& prefix : prefixes) {
            files << dir + QLatin1Char('/') + prefix + QStringLiteral("mimeapps.list");
        }
    }
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        for (const QString& prefix : prefixes) {
            files << dir + QStringLiteral("/applications/") + prefix +
                         QStringLiteral("mimeapps.list");
        }
        files << dir + QStringLiteral("/applications/defaults.list");
    }
    QStringList chosen;
    const QString key = type + QLatin1Char('=');
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        bool inDefaults = false;
        while (!file.atEnd()) {
            const QString text = QString::fromUtf8(file.readLine()).trimmed();
            if (text.startsWith(QLatin1Char('['))) {
                inDefaults = text == QLatin1String("[Default Applications]");
            } else if (inDefaults && text.startsWith(key)) {
                chosen += text.mid(key.size()).split(QLatin1Char(';'), Qt::SkipEmptyParts);
            }
        }
    }
    return chosen;
}

ForType ask(const QString& type, const icons::Themes& themes) {
    const QByteArray name = type.toUtf8();
    ForType found;
    AppInfo defaultApp(g_app_info_get_default_for_type(name.constData(), FALSE));
    if (defaultApp && isSelf(defaultApp.get())) {
        defaultApp.reset(); // GIO falls back to any program that takes every file
    }
    // Where nobody chose one, GIO answers with the first program that names
    // the type (ImageMagick's viewer for a PDF): no default, and fit orders them.
    if (defaultApp && !chosenFor(type).contains(fromUtf8(g_app_info_get_id(defaultApp.get())))) {
        defaultApp.reset();
    }
    if (defaultApp) {
        found.hasDefault = true;
        found.apps << appOf(defaultApp.get(), themes);
    }
    GList* all = g_app_info_get_all_for_type(name.constData());
    for (GList* item = all; item; item = item->next) {
        auto* app = static_cast<GAppInfo*>(item->data);
        if (!isSelf(app) && (!defaultApp || !g_app_info_equal(app, defaultApp.get()))) {
            found.apps << appOf(app, themes);
        }
    }
    g_list_free_full(all, g_object_unref);
    return found;
}

bool askEntry(const QString& desktopId) {
    const AppInfo app(G_APP_INFO(g_desktop_app_info_new(desktopId.toUtf8().constData())));
    return bool(app);
}

} // namespace

Programs::Programs(const icons::Themes& themes)
    : m_themes(themes) {}

std::shared_ptr<const ForType> Programs::forType(const QString& type) {
    return m_types.get(type, [this](const QString& name) {
        return std::make_shared<const ForType>(ask(name, m_themes));
    });
}

bool Programs::hasDesktopEntry(const QString& desktopId) {
    return m_entries.get(desktopId, askEntry);
}

void Programs::forget() {
    m_types.forget();
    m_entries.forget();
}

} // namespace installed

#include "knowledge.h"

#include <QLocale>
#include <QMimeDatabase>
#include <algorithm>
#include <gio/gio.h>
#include <memory>

namespace knowledge {
namespace {

QString fromUtf8(const char* text) {
    return text ? QString::fromUtf8(text) : QString();
}

Program programOf(GAppInfo* app, bool isDefault) {
    return {fromUtf8(g_app_info_get_name(app)), fromUtf8(g_app_info_get_id(app)),
            fromUtf8(g_app_info_get_description(app)), isDefault};
}

struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, GObjectDeleter>;

// The default program first, then every other one that declares the type.
// Each of the two calls walks GIO's application index, which is most of what
// a lookup costs; GIO keeps that index current as software comes and goes.
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

Format formatOf(const QMimeType& type) {
    return {
        type.name(),     type.comment(),         type.aliases(),          type.parentMimeTypes(),
        type.suffixes(), type.preferredSuffix(), programsFor(type.name())};
}

} // namespace

void useSimplifiedChinese() {
    // Descriptions come through QLocale, program names through GLib's language list.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    g_setenv("LANGUAGE", "zh_CN:zh", TRUE);
}

QList<Format> lookUp(const QString& extension) {
    // A slash would make the database read only what follows it as the file name.
    const auto isControl = [](QChar c) {
        return c.category() == QChar::Other_Control;
    };
    if (extension.isEmpty() || extension.contains(QLatin1Char('/')) ||
        std::any_of(extension.begin(), extension.end(), isControl)) {
        return {};
    }
    static const QMimeDatabase database;
    QList<Format> formats;
    for (const QMimeType& type : database.mimeTypesForFileName(QStringLiteral("x.") + extension)) {
        formats.append(formatOf(type));
    }
    return formats;
}

} // namespace knowledge

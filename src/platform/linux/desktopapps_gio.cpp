// The desktop's programs through GIO, which reads the same desktop files and
// mimeapps.list as the person's file manager.
// GLib first: its headers use names (signals) Qt defines as macros.
// clang-format off
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
// clang-format on

#include "desktopapps.h"

#include <memory>

namespace platform::desktopapps {
namespace {

template <typename T> struct Unref {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T> using Ref = std::unique_ptr<T, Unref<T>>;

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

Ref<GDesktopAppInfo> programOf(const QString& program) {
    return Ref<GDesktopAppInfo>(g_desktop_app_info_new(program.toUtf8().constData()));
}

QString missing(const QString& program) {
    return QStringLiteral("找不到程序“%1”：它可能已被卸载。").arg(program);
}

// The reason GIO gave, after what was being done.
QString failed(const QString& what, GError* error) {
    const std::unique_ptr<GError, ErrorFree> owned(error);
    return QStringLiteral("%1：%2").arg(what, QString::fromUtf8(error ? error->message : ""));
}

} // namespace

QString nameOf(const QString& program) {
    const Ref<GDesktopAppInfo> app = programOf(program);
    return app ? QString::fromUtf8(g_app_info_get_name(G_APP_INFO(app.get()))) : program;
}

QString defaultFor(const QString& type) {
    const Ref<GAppInfo> app(g_app_info_get_default_for_type(type.toUtf8().constData(), FALSE));
    return app && g_app_info_get_id(app.get()) ? QString::fromUtf8(g_app_info_get_id(app.get()))
                                               : QString();
}

QString open(const QString& program, const QByteArray& file) {
    const Ref<GDesktopAppInfo> app = programOf(program);
    if (!app) {
        return missing(program);
    }
    const Ref<GFile> target(g_file_new_for_path(file.constData()));
    GList files{target.get(), nullptr, nullptr};
    GError* error = nullptr;
    if (!g_app_info_launch(G_APP_INFO(app.get()), &files, nullptr, &error)) {
        return failed(QStringLiteral("无法用“%1”打开这个文件").arg(nameOf(program)), error);
    }
    return {};
}

QString setDefault(const QString& program, const QString& type) {
    const Ref<GDesktopAppInfo> app = programOf(program);
    if (!app) {
        return missing(program);
    }
    GError* error = nullptr;
    if (!g_app_info_set_as_default_for_type(G_APP_INFO(app.get()), type.toUtf8().constData(),
                                            &error)) {
        return failed(QStringLiteral("无法设为默认程序"), error);
    }
    return {};
}

QString restoreDefault(const QString& previous, const QString& type) {
    // The person's own choices for the type go, which leaves the default the
    // desktop had before any; the program before is then chosen again if
    // that was a choice of the person's.
    g_app_info_reset_type_associations(type.toUtf8().constData());
    if (previous.isEmpty() || defaultFor(type) == previous) {
        return {};
    }
    return setDefault(previous, type);
}

bool hasSoftwareCentre() {
    const Ref<GAppInfo> centre(g_app_info_get_default_for_uri_scheme("appstream"));
    return bool(centre);
}

QString openInSoftwareCentre(const QString& component) {
    GError* error = nullptr;
    const QByteArray address = QStringLiteral("appstream://%1").arg(component).toUtf8();
    if (!g_app_info_launch_default_for_uri(address.constData(), nullptr, &error)) {
        return failed(QStringLiteral("无法打开软件中心"), error);
    }
    return {};
}

} // namespace platform::desktopapps

// The desktop's programs through GIO, which reads the same desktop files and
// mimeapps.list as the person's file manager.
// GLib first: its headers use names (signals) Qt defines as macros.
// clang-format off
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
// clang-format on

#include "desktopapps.h"

#include <array>
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

namespace {

// The groups of mimeapps.list that hold a person's choices, in the order of
// the Choices fields.
constexpr const char* choiceGroups[] = {"Default Applications", "Added Associations",
                                        "Removed Associations"};

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};

// GIO writes the person's choices to this file and no other.
QByteArray choicesFile() {
    return QByteArray(g_get_user_config_dir()) + "/mimeapps.list";
}

// The person's list, empty where there is none yet; null, with GIO's
// reason, where there is one that cannot be read: that one is never
// written over.
std::unique_ptr<GKeyFile, KeyFileFree> readChoices(GError** error) {
    std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
    GError* failure = nullptr;
    if (!g_key_file_load_from_file(
            file.get(), choicesFile().constData(),
            GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS), &failure) &&
        !g_error_matches(failure, G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
        g_propagate_error(error, failure);
        return nullptr;
    }
    if (failure) {
        g_error_free(failure);
    }
    return file;
}

// Choices or const Choices: the field that holds the group's value.
template <typename C> auto fieldOf(C& choices, int group) {
    return std::array{&choices.defaults, &choices.added, &choices.removed}[group];
}

} // namespace

Choices choicesFor(const QString& type) {
    Choices choices{type, {}, {}, {}};
    GError* error = nullptr;
    const auto file = readChoices(&error);
    if (!file) {
        g_error_free(error);
        return choices;
    }
    const QByteArray key = type.toUtf8();
    for (int group = 0; group < 3; ++group) {
        if (gchar* value = g_key_file_get_value(file.get(), choiceGroups[group], key, nullptr)) {
            *fieldOf(choices, group) = QString::fromUtf8(value);
            g_free(value);
        }
    }
    return choices;
}

QString restoreChoices(const Choices& before) {
    // The file as it is now, not as it was: other types' choices made since
    // stay as they are.
    GError* error = nullptr;
    const auto file = readChoices(&error);
    if (!file) {
        return failed(QStringLiteral("无法恢复原来的默认程序"), error);
    }
    const QByteArray key = before.type.toUtf8();
    for (int group = 0; group < 3; ++group) {
        const std::optional<QString>& value = *fieldOf(before, group);
        if (value) {
            g_key_file_set_value(file.get(), choiceGroups[group], key, value->toUtf8());
        } else {
            g_key_file_remove_key(file.get(), choiceGroups[group], key, nullptr);
        }
    }
    // Written to a new file and renamed over the old one, so a crash leaves
    // either list whole.
    if (!g_key_file_save_to_file(file.get(), choicesFile().constData(), &error)) {
        return failed(QStringLiteral("无法恢复原来的默认程序"), error);
    }
    return {};
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

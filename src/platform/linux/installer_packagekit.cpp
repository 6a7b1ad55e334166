// Installing through PackageKit, the package service Debian ships: it runs
// as root on the system bus and asks polkit, which asks the person for the
// password. The app talks to it with its GLib client on the GLib main loop
// Qt runs on.
// GLib first: its headers use names (signals) Qt defines as macros.
// clang-format off
#include <packagekit-glib2/packagekit.h>
// clang-format on

#include "installer.h"

#include <QStringList>

namespace platform {
namespace {

QString statusText(PkStatusEnum status) {
    switch (status) {
    case PK_STATUS_ENUM_WAIT:
    case PK_STATUS_ENUM_SETUP:
        return QStringLiteral("正在准备……");
    case PK_STATUS_ENUM_WAITING_FOR_AUTH:
        return QStringLiteral("等待授权：请在弹出的窗口中输入密码");
    case PK_STATUS_ENUM_WAITING_FOR_LOCK:
        return QStringLiteral("等待其他软件安装或更新结束……");
    case PK_STATUS_ENUM_QUERY:
    case PK_STATUS_ENUM_INFO:
    case PK_STATUS_ENUM_LOADING_CACHE:
        return QStringLiteral("正在查找软件包……");
    case PK_STATUS_ENUM_DEP_RESOLVE:
        return QStringLiteral("正在计算需要的其他软件包……");
    case PK_STATUS_ENUM_DOWNLOAD:
    case PK_STATUS_ENUM_DOWNLOAD_REPOSITORY:
    case PK_STATUS_ENUM_DOWNLOAD_PACKAGELIST:
        return QStringLiteral("正在下载……");
    case PK_STATUS_ENUM_SIG_CHECK:
        return QStringLiteral("正在检查软件包签名……");
    case PK_STATUS_ENUM_INSTALL:
    case PK_STATUS_ENUM_COMMIT:
    case PK_STATUS_ENUM_TEST_COMMIT:
        return QStringLiteral("正在安装……");
    case PK_STATUS_ENUM_REMOVE:
        return QStringLiteral("正在删除……");
    case PK_STATUS_ENUM_CLEANUP:
    case PK_STATUS_ENUM_RUN_HOOK:
    case PK_STATUS_ENUM_SCAN_APPLICATIONS:
        return QStringLiteral("正在收尾……");
    case PK_STATUS_ENUM_CANCEL:
        return QStringLiteral("正在取消……");
    case PK_STATUS_ENUM_FINISHED:
        return QStringLiteral("即将完成……");
    default:
        return QStringLiteral("正在处理……");
    }
}

// The service's reason, in the words the person can act on.
QString reasonOf(PkErrorEnum code, const QString& details) {
    switch (code) {
    case PK_ERROR_ENUM_NO_NETWORK:
    case PK_ERROR_ENUM_PACKAGE_DOWNLOAD_FAILED:
    case PK_ERROR_ENUM_NO_MORE_MIRRORS_TO_TRY:
    case PK_ERROR_ENUM_CANNOT_FETCH_SOURCES:
        return QStringLiteral("没有网络连接，或软件源无法访问，软件包下载不了。请连上网络后再试。");
    case PK_ERROR_ENUM_NOT_AUTHORIZED:
        return QStringLiteral("没有得到授权：密码不对，或授权窗口被取消。没有安装任何东西。");
    case PK_ERROR_ENUM_PACKAGE_NOT_FOUND:
    case PK_ERROR_ENUM_PACKAGE_ID_INVALID:
    case PK_ERROR_ENUM_REPO_NOT_FOUND:
        return QStringLiteral("软件源里已经没有这个软件包了。可以先更新软件源列表再试。");
    case PK_ERROR_ENUM_CANNOT_GET_LOCK:
        return QStringLiteral("另一个程序正在安装或更新软件，请等它结束后再试。");
    case PK_ERROR_ENUM_NO_SPACE_ON_DEVICE:
        return QStringLiteral("磁盘空间不够。");
    case PK_ERROR_ENUM_TRANSACTION_CANCELLED:
        return QStringLiteral("安装已取消，没有安装任何东西。");
    case PK_ERROR_ENUM_PACKAGE_ALREADY_INSTALLED:
    case PK_ERROR_ENUM_ALL_PACKAGES_ALREADY_INSTALLED:
        return QStringLiteral("这个软件包已经安装了。");
    default:
        return QStringLiteral("安装没有完成：%1").arg(details);
    }
}

// One request to the service: at most a lookup of the package by name, then
// the install or removal.
struct PackageKitInstaller;

struct Job {
    enum class Kind { Install, InstallFile, Remove } kind;
    QString subject;
    PackageKitInstaller* owner;
};

struct PackageKitInstaller final : Installer {
    explicit PackageKitInstaller(InstallWatch watch)
        : m_watch(std::move(watch))
        , m_task(pk_task_new()) {
        // The service's own questions are not asked: a package is wanted
        // whole, and only from the configured sources unless it is a file
        // the person has.
        g_object_set(m_task, "simulate", FALSE, "interactive", TRUE, nullptr);
    }

    ~PackageKitInstaller() override {
        if (m_cancellable) {
            g_cancellable_cancel(m_cancellable);
        }
        // A callback still due finds no installer.
        for (Job* job : m_jobs) {
            job->owner = nullptr;
        }
        g_object_unref(m_task);
    }

    void installPackage(const QString& package) override {
        start({Job::Kind::Install, package, this}, true);
    }
    void installFile(const QString& path) override {
        start({Job::Kind::InstallFile, path, this}, false);
    }
    void removePackage(const QString& package) override {
        start({Job::Kind::Remove, package, this}, true);
    }
    void cancel() override {
        if (m_cancellable) {
            g_cancellable_cancel(m_cancellable);
        }
    }

private:
    void start(Job job, bool byName) {
        if (m_cancellable) {
            m_watch.finished(InstallEnd::Failed,
                             QStringLiteral("还有一个安装没有结束，请等它结束后再试。"));
            return;
        }
        m_cancellable = g_cancellable_new();
        auto* running = new Job(std::move(job));
        m_jobs.append(running);
        const QByteArray subject = running->subject.toUtf8();
        gchar* names[] = {const_cast<gchar*>(subject.constData()), nullptr};
        if (byName) {
            const PkBitfield filter =
                running->kind == Job::Kind::Remove
                    ? pk_bitfield_from_enums(PK_FILTER_ENUM_INSTALLED, -1)
                    : pk_bitfield_from_enums(PK_FILTER_ENUM_NOT_INSTALLED, PK_FILTER_ENUM_NEWEST,
                                             PK_FILTER_ENUM_ARCH, -1);
            pk_task_resolve_async(m_task, filter, names, m_cancellable, &progressed, running,
                                  &resolved, running);
        } else {
            g_object_set(m_task, "only-trusted", FALSE, nullptr);
            pk_task_install_files_async(m_task, names, m_cancellable, &progressed, running, &acted,
                                        running);
        }
    }

    static void progressed(PkProgress* progress, PkProgressType, gpointer data) {
        auto* job = static_cast<Job*>(data);
        if (!job->owner) {
            return;
        }
        gint percent = -1;
        PkStatusEnum status = PK_STATUS_ENUM_UNKNOWN;
        g_object_get(progress, "percentage", &percent, "status", &status, nullptr);
        job->owner->m_watch.progress(percent >= 0 && percent <= 100 ? percent : -1,
                                     statusText(status));
    }

    // What the service answered; null, with the reason set, when it failed.
    static PkResults* answer(GObject* task, GAsyncResult* result, QString* reason,
                             InstallEnd* end) {
        GError* error = nullptr;
        PkResults* results = pk_task_generic_finish(PK_TASK(task), result, &error);
        *end = InstallEnd::Failed;
        if (!results) {
            if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                *end = InstallEnd::Cancelled;
                *reason = reasonOf(PK_ERROR_ENUM_TRANSACTION_CANCELLED, {});
            } else if (error && error->domain == PK_CLIENT_ERROR &&
                       error->code > PK_CLIENT_ERROR_LAST) {
                *reason =
                    reasonOf(PkErrorEnum(error->code - 0xff), QString::fromUtf8(error->message));
            } else if (error && error->domain == PK_CLIENT_ERROR &&
                       error->code == PK_CLIENT_ERROR_FAILED_AUTH) {
                *reason = reasonOf(PK_ERROR_ENUM_NOT_AUTHORIZED, {});
            } else {
                *reason = QStringLiteral("无法连接软件包服务 PackageKit：%1")
                              .arg(QString::fromUtf8(error ? error->message : ""));
            }
            g_clear_error(&error);
            return nullptr;
        }
        PkError* failure = pk_results_get_error_code(results);
        if (failure || pk_results_get_exit_code(results) != PK_EXIT_ENUM_SUCCESS) {
            const PkErrorEnum code =
                failure ? pk_error_get_code(failure) : PK_ERROR_ENUM_TRANSACTION_ERROR;
            *end = code == PK_ERROR_ENUM_TRANSACTION_CANCELLED ? InstallEnd::Cancelled
                                                               : InstallEnd::Failed;
            *reason = reasonOf(code, failure ? QString::fromUtf8(pk_error_get_details(failure))
                                             : QString());
            if (failure) {
                g_object_unref(failure);
            }
            g_object_unref(results);
            return nullptr;
        }
        return results;
    }

    static void resolved(GObject* task, GAsyncResult* result, gpointer data) {
        auto* job = static_cast<Job*>(data);
        QString reason;
        InstallEnd end;
        PkResults* results = answer(task, result, &reason, &end);
        if (!job->owner) {
            delete job;
        } else if (!results) {
            job->owner->end(job, end, reason);
        } else {
            job->owner->act(job, results);
        }
        if (results) {
            g_object_unref(results);
        }
    }

    void act(Job* job, PkResults* results) {
        GPtrArray* packages = pk_results_get_package_array(results);
        QList<QByteArray> ids;
        for (guint i = 0; i < packages->len; ++i) {
            ids << pk_package_get_id(PK_PACKAGE(g_ptr_array_index(packages, i)));
        }
        g_ptr_array_unref(packages);
        if (ids.isEmpty()) {
            end(job, InstallEnd::Failed,
                job->kind == Job::Kind::Remove
                    ? QStringLiteral("软件包“%1”没有安装。").arg(job->subject)
                    : QStringLiteral("软件源里找不到可以安装的“%1”：它可能已经装好了，"
                                     "或已从软件源中移除（可以先更新软件源列表再试）。")
                          .arg(job->subject));
            return;
        }
        QList<gchar*> pointers;
        for (QByteArray& id : ids) {
            pointers << id.data();
        }
        pointers << nullptr;
        g_object_set(m_task, "only-trusted", TRUE, nullptr);
        if (job->kind == Job::Kind::Remove) {
            pk_task_remove_packages_async(m_task, pointers.data(), FALSE, FALSE, m_cancellable,
                                          &progressed, job, &acted, job);
        } else {
            pk_task_install_packages_async(m_task, pointers.data(), m_cancellable, &progressed, job,
                                           &acted, job);
        }
    }

    static void acted(GObject* task, GAsyncResult* result, gpointer data) {
        auto* job = static_cast<Job*>(data);
        QString reason;
        InstallEnd end = InstallEnd::Done;
        PkResults* results = answer(task, result, &reason, &end);
        if (results) {
            end = InstallEnd::Done;
            g_object_unref(results);
        }
        if (job->owner) {
            job->owner->end(job, end, reason);
        } else {
            delete job;
        }
    }

    void end(Job* job, InstallEnd how, const QString& reason) {
        m_jobs.removeOne(job);
        delete job;
        g_clear_object(&m_cancellable);
        m_watch.finished(how, reason);
    }

    InstallWatch m_watch;
    PkTask* m_task;
    GCancellable* m_cancellable = nullptr;
    QList<Job*> m_jobs;
};

// The service is started by the system bus when first asked; asking a bus
// that cannot start it would only fail later, in the middle of the request.
bool serviceOnBus() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return false;
    }
    GVariant* names = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, 2000,
        nullptr, &error);
    bool found = false;
    if (names) {
        GVariantIter* iter = nullptr;
        const gchar* name = nullptr;
        g_variant_get(names, "(as)", &iter);
        while (g_variant_iter_loop(iter, "&s", &name)) {
            found = found || g_strcmp0(name, "org.freedesktop.PackageKit") == 0;
        }
        g_variant_iter_free(iter);
        g_variant_unref(names);
    }
    g_clear_error(&error);
    g_object_unref(bus);
    return found;
}

} // namespace

std::unique_ptr<Installer> makeInstaller(InstallWatch watch) {
    if (!serviceOnBus()) {
        return nullptr;
    }
    return std::make_unique<PackageKitInstaller>(std::move(watch));
}

QString installCommand(const QString& package) {
    return QStringLiteral("sudo apt install %1").arg(package);
}

} // namespace platform

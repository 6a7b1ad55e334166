#include "watcher.h"

#include "filestamp.h"
#include "mimedirs.h"
#include "restart.h"

#include <QStandardPaths>
#include <gio/gio.h>
#include <optional>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Often enough that a change shows within a fraction of a second; a poll
// costs a handful of stat calls.
constexpr guint pollMilliseconds = 200;
// Installing a program writes its desktop entry, then the folder's index:
// the programs are read again once the folder has been quiet this long.
constexpr auto programsQuiet = std::chrono::seconds(1);

// The lists of defaults GIO reads in each folder: one for each desktop the
// session names ("gnome-mimeapps.list"), then the common one.
QStringList defaultsLists() {
    QStringList names;
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts)) {
        names << desktop.toLower() + QStringLiteral("-mimeapps.list");
    }
    return names << QStringLiteral("mimeapps.list");
}

// Where installing or removing a program, or choosing another default, leaves
// a trace: the folders of desktop entries, their index and the lists of
// defaults.
QStringList programFiles() {
    const QStringList lists = defaultsLists();
    QStringList files;
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        files << dir + QStringLiteral("/applications")
              << dir + QStringLiteral("/applications/mimeinfo.cache");
        for (const QString& list : lists) {
            files << dir + QStringLiteral("/applications/") + list;
        }
    }
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        for (const QString& list : lists) {
            files << dir + u'/' + list;
        }
    }
    return files;
}

// GLib learns of new programs only through inotify; without it (every
// instance a user may have already taken) it never reads them again.
bool inotifyAvailable() {
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

} // namespace

struct Watcher::Loop {
    Callbacks callbacks;
    std::function<QStringList()> catalogFiles;
    mimedirs::DataDirs* dirs = nullptr;
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    QStringList catalogWatched;
    QList<qint64> mimeStamp;
    QList<qint64> catalogStamp;
    std::optional<Clock::time_point> mimeSettled;
    bool pollPrograms = false;
    QList<qint64> programsStamp;
    std::optional<Clock::time_point> programsChangedAt;
    std::thread thread;

    void pollMime() {
        const QList<qint64> mime = filestamp::of(dirs->cacheFiles());
        // Nothing may read a changed database before it is checked.
        dirs->recheck();
        if (dirs->restarter().isUnderway()) {
            return;
        }
        if (mime != mimeStamp) {
            mimeStamp = mime;
            callbacks.mimeChanged("MIME 数据库有变");
            mimeSettled = Clock::now() + mimeSettling;
        } else if (mimeSettled && Clock::now() >= *mimeSettled) {
            // What was rebuilt meanwhile may have come from the old database.
            mimeSettled.reset();
            callbacks.mimeChanged("MIME 数据库已稳定，其间建的页面可能仍出自旧库");
        }
    }

    // Read before it is loaded, so a change during the load is loaded again.
    void pollCatalog() {
        if (filestamp::of(catalogWatched) != catalogStamp) {
            catalogWatched = catalogFiles();
            catalogStamp = filestamp::of(catalogWatched);
            callbacks.catalogChanged();
        }
    }

    void pollProgramsWithoutInotify() {
        const QList<qint64> programs = filestamp::of(programFiles());
        if (programs != programsStamp) {
            programsStamp = programs;
            programsChangedAt = Clock::now();
        } else if (programsChangedAt && Clock::now() - *programsChangedAt >= programsQuiet) {
            dirs->restarter().soon(QStringLiteral("已装程序有变，而 inotify 不可用"));
        }
    }

    void poll() {
        pollMime();
        pollCatalog();
        if (pollPrograms) {
            pollProgramsWithoutInotify();
        }
    }

    static gboolean onTimer(gpointer self) {
        static_cast<Loop*>(self)->poll();
        return G_SOURCE_CONTINUE;
    }

    static void onAppsChanged(GAppInfoMonitor*, gpointer self) {
        static_cast<Loop*>(self)->callbacks.programsChanged();
    }

    void run() {
        pollPrograms = !inotifyAvailable();
        programsStamp = filestamp::of(programFiles());
        g_main_context_push_thread_default(context);
        // The monitor reports to the context that is current where it is made,
        // and only once the application list has been read.
        GAppInfoMonitor* monitor = g_app_info_monitor_get();
        g_signal_connect(monitor, "changed", G_CALLBACK(onAppsChanged), this);
        // Reading the programs reads GLib's MIME database too: the database
        // may have changed since the site started, and GLib loads it here,
        // right after it is checked, not somewhere along the list.
        dirs->recheck();
        if (!dirs->restarter().isUnderway()) {
            g_content_type_is_a("text/plain", "text/plain");
            g_list_free_full(g_app_info_get_all(), g_object_unref);
        }
        GSource* timer = g_timeout_source_new(pollMilliseconds);
        g_source_set_callback(timer, onTimer, this, nullptr);
        g_source_attach(timer, context);
        g_main_loop_run(loop);
        g_source_destroy(timer);
        g_source_unref(timer);
        g_signal_handlers_disconnect_by_data(monitor, this);
        g_object_unref(monitor);
        g_main_context_pop_thread_default(context);
    }
};

Watcher::Watcher(mimedirs::DataDirs& dirs, Callbacks callbacks,
                 std::function<QStringList()> catalogFiles)
    : m_loop(std::make_unique<Loop>()) {
    m_loop->dirs = &dirs;
    m_loop->callbacks = std::move(callbacks);
    m_loop->catalogFiles = std::move(catalogFiles);
    m_loop->mimeStamp = filestamp::of(dirs.cacheFiles());
    m_loop->catalogWatched = m_loop->catalogFiles();
    m_loop->catalogStamp = filestamp::of(m_loop->catalogWatched);
    m_loop->thread = std::thread([loop = m_loop.get()] { loop->run(); });
}

Watcher::~Watcher() {
    g_main_context_invoke(
        m_loop->context,
        [](gpointer loop) {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        m_loop->loop);
    m_loop->thread.join();
    g_main_loop_unref(m_loop->loop);
    g_main_context_unref(m_loop->context);
}

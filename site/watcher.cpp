#include "watcher.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStandardPaths>
#include <gio/gio.h>
#include <thread>

namespace {

// Often enough that a change shows within a fraction of a second; a poll
// costs a handful of stat calls.
constexpr guint pollMilliseconds = 200;

// What the files are now: each one's modification time and size, or absent.
QList<qint64> stampOf(const QStringList& files) {
    QList<qint64> stamp;
    for (const QString& file : files) {
        const QFileInfo info(file);
        stamp << (info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1)
              << (info.exists() ? info.size() : -1);
    }
    return stamp;
}

QStringList mimeCacheFiles() {
    QStringList files;
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        files << dir + QStringLiteral("/mime/mime.cache");
    }
    return files;
}

} // namespace

struct Watcher::Loop {
    Callbacks callbacks;
    std::function<QStringList()> catalogFiles;
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    QStringList catalogWatched;
    QList<qint64> mimeStamp;
    QList<qint64> catalogStamp;
    std::thread thread;

    void poll() {
        const QList<qint64> mime = stampOf(mimeCacheFiles());
        if (mime != mimeStamp) {
            mimeStamp = mime;
            callbacks.mimeChanged();
        }
        const QList<qint64> catalog = stampOf(catalogWatched);
        if (catalog != catalogStamp) {
            callbacks.catalogChanged();
            catalogWatched = catalogFiles();
            catalogStamp = stampOf(catalogWatched);
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
        g_main_context_push_thread_default(context);
        // The monitor reports to the context that is current where it is made,
        // and only once the application list has been read.
        GAppInfoMonitor* monitor = g_app_info_monitor_get();
        g_signal_connect(monitor, "changed", G_CALLBACK(onAppsChanged), this);
        g_list_free_full(g_app_info_get_all(), g_object_unref);
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

Watcher::Watcher(Callbacks callbacks, std::function<QStringList()> catalogFiles)
    : m_loop(std::make_unique<Loop>()) {
    m_loop->callbacks = std::move(callbacks);
    m_loop->catalogFiles = std::move(catalogFiles);
    m_loop->mimeStamp = stampOf(mimeCacheFiles());
    m_loop->catalogWatched = m_loop->catalogFiles();
    m_loop->catalogStamp = stampOf(m_loop->catalogWatched);
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

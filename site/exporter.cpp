#include "exporter.h"

#include "addresses.h"
#include "knowledge.h"
#include "routes.h"
#include "sitelog.h"
#include "webroot.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QSet>
#include <QUrl>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

namespace exporter {
namespace {

std::atomic<int> stopSignal{0};

extern "C" void onStopSignal(int signal) {
    stopSignal.store(signal);
}

// While it lives, SIGINT, SIGTERM and SIGHUP only ask the export to stop, so
// it can remove what it wrote; whichever thread takes one, the workers see it
// before their next file. A file size limit gives a write error, not an end
// without cleaning up.
class StopSignals {
public:
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(m_signals); ++i) {
            sigaction(m_signals[i], &action, &m_previous[i]);
        }
        action.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &action, &m_previousSizeLimit);
    }
    ~StopSignals() {
        for (size_t i = 0; i < std::size(m_signals); ++i) {
            sigaction(m_signals[i], &m_previous[i], nullptr);
        }
        sigaction(SIGXFSZ, &m_previousSizeLimit, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static bool stopping() { return stopSignal.load() != 0; }
    static QString reason(const webroot::Say& say) {
        const int signal = stopSignal.load();
        return signal == 0 ? QString()
                           : say("被 SIG%1 停止", "stopped by SIG%1")
                                 .arg(QLatin1String(sigabbrev_np(signal)));
    }

private:
    const int m_signals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_previous[3]{};
    struct sigaction m_previousSizeLimit {};
};

struct Job {
    QByteArray address; // as the site is asked
    QByteArray file;    // relative to the export
};

// Files one thread writes one after the other: all of an extension's pages,
// so that no two threads work out the same types at once.
struct Task {
    QList<Job> jobs;
    QString extension; // whose types the pages need prepared; none for other files
};

http::Response ask(routes::Site& site, const QByteArray& address) {
    http::Request request;
    request.method = "GET";
    request.path = address;
    return site.respond(request);
}

// Page files for every extension a link may name, in the order given.
QList<Task> pageTasks(const QStringList& extensions) {
    QList<Task> tasks = {{{{"/", "index.html"}}, {}},
                         {{{"/404.html", "404.html"}}, {}},
                         {{{"/style.css", "style.css"}}, {}}};
    for (const QString& extension : extensions) {
        if (extension.contains(QLatin1Char('/')) || extension.startsWith(QLatin1Char('.'))) {
            continue;
        }
        Task task{{}, extension};
        for (const addresses::Page page : {addresses::Page::Lookup, addresses::Page::Search}) {
            task.jobs.append({addresses::pagePath(page, extension).toLatin1(),
                              addresses::pageFile(page, extension).toUtf8()});
        }
        tasks.append(task);
    }
    return tasks;
}

QString failure(const QString& what, int error) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

// Writes every file into the new version folder, through its descriptor.
class Run {
public:
    Run(routes::Site& site, const webroot::WebRoot& root, const webroot::Say& say)
        : m_site(site)
        , m_root(root)
        , say(say) {}

    // Each thread takes the next task until none is left, one failed or a
    // signal asked to stop, waiting if need be until its types are prepared.
    // What it wrote is told once, at the end: a lock taken per page would
    // have the threads waiting on each other.
    void work(const QList<Task>& tasks) {
        QHash<QByteArray, webroot::FileRecord> written;
        QSet<QByteArray> icons;
        QString error;
        // Whatever the site throws (a thread it cannot start) fails the
        // export, which then cleans up, instead of ending the process.
        try {
            for (qsizetype i = m_next++; i < tasks.size() && !m_failed && !StopSignals::stopping();
                 i = m_next++) {
                waitUntilPrepared(i);
                for (const Job& job : tasks[i].jobs) {
                    error = writeAnswer(job, &written, &icons);
                    if (!error.isEmpty()) {
                        m_failed = true;
                        break;
                    }
                    progress(++m_done);
                }
            }
        } catch (const std::exception& exception) {
            error = say("导出出错：%1", "the export failed: %1")
                        .arg(QString::fromLocal8Bit(exception.what()));
            m_failed = true;
        }
        const QMutexLocker locker(&m_lock);
        if (!error.isEmpty() && m_error.isEmpty()) {
            m_error = error;
        }
        m_written.insert(written);
        m_icons.unite(icons);
    }

    // QMimeDatabase answers every thread through one lock, and reads a
    // type's definition file the first time it is asked about it: this
    // thread asks it what the pages need, extension after extension, and
    // writes pages too once that is done, while the others write the pages
    // of the extensions prepared so far. A thread the system will not start
    // leaves the work to fewer.
    void runAll(const QList<Task>& tasks, int threads, knowledge::Knowledge* preparing = nullptr) {
        m_next = 0;
        m_done = 0;
        m_total = 0;
        for (const Task& task : tasks) {
            m_total += task.jobs.size();
        }
        m_prepared = preparing ? 0 : std::numeric_limits<qsizetype>::max();
        m_timer.start();
        std::vector<std::thread> workers;
        for (int i = 1; i < threads; ++i) {
            try {
                workers.emplace_back([this, &tasks] { work(tasks); });
            } catch (const std::system_error& error) {
                warnFewerThreads(int(workers.size()) + 1, threads, error);
                break;
            }
        }
        if (preparing) {
            try {
                prepare(*preparing, tasks);
            } catch (const std::exception&) {
                // The pages find out for themselves, and fail in work().
                m_prepared.store(std::numeric_limits<qsizetype>::max());
                m_prepared.notify_all();
            }
        }
        work(tasks);
        for (std::thread& worker : workers) {
            worker.join();
        }
        std::fprintf(stderr, "\n");
    }

    QList<Task> iconTasks() const {
        QList<Task> tasks;
        QList<QByteArray> addresses(m_icons.begin(), m_icons.end());
        std::sort(addresses.begin(), addresses.end());
        for (const QByteArray& address : addresses) {
            tasks.append({{{address, address.mid(1)}}, {}});
        }
        return tasks;
    }

    // Once the threads are joined.
    QString error() const { return m_error; }
    QHash<QByteArray, webroot::FileRecord> written() const { return m_written; }
    qsizetype changed() const { return m_changed; }

private:
    void prepare(knowledge::Knowledge& knowledge, const QList<Task>& tasks) {
        for (qsizetype i = 0; i < tasks.size() && !m_failed && !StopSignals::stopping(); ++i) {
            if (!tasks[i].extension.isEmpty()) {
                knowledge.prepare(tasks[i].extension);
            }
            m_prepared.store(i + 1);
            m_prepared.notify_all();
        }
        // Stopped early, the others work out what they need themselves.
        m_prepared.store(std::numeric_limits<qsizetype>::max());
        m_prepared.notify_all();
    }

    void waitUntilPrepared(qsizetype task) {
        for (qsizetype prepared = m_prepared.load(); prepared <= task;
             prepared = m_prepared.load()) {
            m_prepared.wait(prepared);
        }
    }

    void warnFewerThreads(int started, int wanted, const std::system_error& error) {
        const QMutexLocker locker(&m_lock);
        if (!m_warnedThreads) {
            std::fprintf(stderr, "quelvix-site: %s\n",
                         qPrintable(say("只能启动 %1 个线程（要 %2 个）：%3；用这些线程继续导出",
                                        "could start only %1 of %2 threads: %3; exporting with "
                                        "those")
                                        .arg(started)
                                        .arg(wanted)
                                        .arg(QString::fromLocal8Bit(error.what()))));
            m_warnedThreads = true;
        }
    }

    // The site's answer to the job, written and noted with the icons it
    // shows; an error when it could not be written.
    QString writeAnswer(const Job& job, QHash<QByteArray, webroot::FileRecord>* written,
                        QSet<QByteArray>* icons) {
        const http::Response response = ask(m_site, job.address);
        // The 404 page is the one page whose status says so.
        if (response.status != 200 && job.address != "/404.html") {
            return {};
        }
        webroot::FileRecord record;
        const QString error = write(job.file, response.body, &record);
        if (error.isEmpty()) {
            written->insert(job.file, record);
            for (const QByteArray& icon : response.icons) {
                icons->insert(icon);
            }
        }
        return error;
    }

    // Bytes the live export already holds as it wrote them are shared with
    // it, so their time stays and a sync moves only what changed.
    QString write(const QByteArray& file, const QByteArray& content, webroot::FileRecord* record) {
        const QString path = m_root.versionPath() + QLatin1Char('/') + QString::fromUtf8(file);
        if (!safefs::isPlainPath(file)) {
            return say("不会写 %1：它不是普通的路径", "will not write %1: not a plain path")
                .arg(path);
        }
        struct stat info {};
        info.st_size = content.size();
        const webroot::FileRecord fresh = webroot::FileRecord::of(content, info);
        if (m_root.reuse(file, fresh, record)) {
            return {};
        }
        safefs::Fd parent;
        int error =
            safefs::openDirectory(m_root.versionFd(), safefs::parentOf(file), true, &parent);
        if (error == 0) {
            error = safefs::writeNewFile(parent.get(), safefs::nameOf(file), content, false, &info);
        }
        if (error != 0) {
            return failure(say("无法写入 %1", "cannot write %1").arg(path), error);
        }
        *record = webroot::FileRecord::of(content, info);
        ++m_changed;
        return {};
    }

    void progress(qsizetype done) {
        const qsizetype total = m_total;
        if (done % 200 == 0 || done == total) {
            const double seconds = std::max(0.001, m_timer.elapsed() / 1000.0);
            std::fprintf(stderr, "\r%s",
                         qPrintable(say("已导出 %1 个文件，共 %2 个，每秒 %3 个",
                                        "exported %1 of %2 files, %3 files/s")
                                        .arg(done)
                                        .arg(total)
                                        .arg(double(done) / seconds, 0, 'f', 0)));
        }
    }

    routes::Site& m_site;
    const webroot::WebRoot& m_root;
    const webroot::Say& say;
    std::atomic<qsizetype> m_next{0};
    std::atomic<qsizetype> m_changed{0}; // files written afresh, not shared
    std::atomic<bool> m_failed{false};
    std::atomic<qsizetype> m_done{0};
    qsizetype m_total = 0;
    std::atomic<qsizetype> m_prepared{0}; // how many tasks have their types prepared
    QElapsedTimer m_timer;
    QMutex m_lock; // guards what follows
    QSet<QByteArray> m_icons;
    QHash<QByteArray, webroot::FileRecord> m_written;
    QString m_error;
    bool m_warnedThreads = false;
};

QString writeVersion(webroot::WebRoot& root, int jobs, routes::Site& site, const webroot::Say& say,
                     qsizetype* written, qsizetype* changed) {
    Run run(site, root, say);
    knowledge::Knowledge& knowledge = site.sources().knowledge();
    QElapsedTimer timer;
    timer.start();
    const QStringList extensions = knowledge.knownExtensions();
    qCDebug(lcExport, "%lld 个扩展名已列出，用时 %lld 毫秒", qlonglong(extensions.size()),
            qlonglong(timer.elapsed()));
    run.runAll(pageTasks(extensions), jobs, &knowledge);
    qCDebug(lcExport, "页面已写好，到此用时 %lld 毫秒", qlonglong(timer.elapsed()));
    if (run.error().isEmpty() && !StopSignals::stopping()) {
        run.runAll(run.iconTasks(), jobs);
    }
    qCDebug(lcExport, "图标已写好，到此用时 %lld 毫秒", qlonglong(timer.elapsed()));
    QString error = run.error().isEmpty() ? StopSignals::reason(say) : run.error();
    if (error.isEmpty()) {
        error = root.prepare(run.written());
    }
    qCDebug(lcExport, "清单已写好，到此用时 %lld 毫秒", qlonglong(timer.elapsed()));
    *written = run.written().size();
    *changed = run.changed();
    // The last moment a signal undoes the export; after the switch it is done.
    return error.isEmpty() ? StopSignals::reason(say) : error;
}

} // namespace

int exportTo(const QString& directory, const Options& options, routes::Site& site) {
    const StopSignals stopSignals;
    const webroot::Say say(options.chinese);
    webroot::WebRoot root(directory, options.chinese);
    qsizetype written = 0;
    qsizetype changed = 0;
    QString error = root.open();
    if (error.isEmpty()) {
        error = root.begin();
    }
    if (error.isEmpty()) {
        error = writeVersion(root, options.jobs, site, say, &written, &changed);
    }
    if (error.isEmpty()) {
        error = root.switchOver();
    }
    if (error.isEmpty()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(say("已导出到 %1：%2 个文件，其中 %3 个有变化",
                                    "exported into %1: %2 files, %3 of them changed")
                                    .arg(directory)
                                    .arg(written)
                                    .arg(changed)));
        return 0;
    }
    root.abandon();
    std::fprintf(stderr, "quelvix-site: %s\n", qPrintable(error));
    if (root.hasPrevious()) {
        std::fprintf(stderr, "quelvix-site: %s\n",
                     qPrintable(say("%1 中原有的导出保持原样", "the export in %1 is left as it was")
                                    .arg(directory)));
    }
    return 1;
}

} // namespace exporter

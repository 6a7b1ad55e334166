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
    static QString reason() {
        const int signal = stopSignal.load();
        return signal == 0
                   ? QString()
                   : QStringLiteral("stopped by SIG%1").arg(QLatin1String(sigabbrev_np(signal)));
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

http::Response ask(routes::Site& site, const QByteArray& address) {
    http::Request request;
    request.method = "GET";
    request.path = address;
    return site.respond(request);
}

// Page files for every extension a link may name.
QList<Job> pageJobs(knowledge::Knowledge& knowledge) {
    QList<Job> jobs = {{"/", "index.html"}, {"/404.html", "404.html"}, {"/style.css", "style.css"}};
    for (const QString& extension : knowledge.knownExtensions()) {
        if (extension.contains(QLatin1Char('/')) || extension.startsWith(QLatin1Char('.'))) {
            continue;
        }
        for (const addresses::Page page : {addresses::Page::Lookup, addresses::Page::Search}) {
            jobs.append({addresses::pagePath(page, extension).toLatin1(),
                         addresses::pageFile(page, extension).toUtf8()});
        }
    }
    return jobs;
}

QString failure(const QString& what, int error) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

// Writes every file into the new version folder, through its descriptor.
class Run {
public:
    Run(routes::Site& site, const webroot::WebRoot& root)
        : m_site(site)
        , m_root(root) {}

    // Each thread takes the next job until none is left, one failed or a
    // signal asked to stop.
    void work(const QList<Job>& jobs) {
        for (qsizetype i = m_next++; i < jobs.size() && !m_failed && !StopSignals::stopping();
             i = m_next++) {
            const http::Response response = ask(m_site, jobs[i].address);
            // The 404 page is the one page whose status says so.
            if (response.status != 200 && jobs[i].address != "/404.html") {
                continue;
            }
            const QString error = write(jobs[i].file, response.body);
            const QMutexLocker locker(&m_lock);
            if (!error.isEmpty()) {
                fail(error);
                return;
            }
            m_written.insert(jobs[i].file);
            for (const QByteArray& icon : response.icons) {
                m_icons.insert(icon);
            }
            progress(++m_done, jobs.size());
        }
    }

    void runAll(const QList<Job>& jobs, int threads) {
        m_next = 0;
        m_done = 0;
        m_timer.start();
        std::vector<std::thread> workers;
        for (int i = 0; i < threads; ++i) {
            workers.emplace_back([this, &jobs] { work(jobs); });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        std::fprintf(stderr, "\n");
    }

    QList<Job> iconJobs() const {
        QList<Job> jobs;
        QList<QByteArray> addresses(m_icons.begin(), m_icons.end());
        std::sort(addresses.begin(), addresses.end());
        for (const QByteArray& address : addresses) {
            jobs.append({address, address.mid(1)});
        }
        return jobs;
    }

    // Once the threads are joined.
    QString error() const { return m_error; }
    QSet<QByteArray> written() const { return m_written; }

private:
    QString write(const QByteArray& file, const QByteArray& content) const {
        const QString path = m_root.versionPath() + QLatin1Char('/') + QString::fromUtf8(file);
        if (!safefs::isPlainPath(file)) {
            return QStringLiteral("will not write %1: not a plain path").arg(path);
        }
        safefs::Fd parent;
        int error =
            safefs::openDirectory(m_root.versionFd(), safefs::parentOf(file), true, &parent);
        if (error == 0) {
            error = safefs::writeNewFile(parent.get(), safefs::nameOf(file), content, false);
        }
        return error == 0 ? QString() : failure(QStringLiteral("cannot write %1").arg(path), error);
    }

    void fail(const QString& error) {
        if (m_error.isEmpty()) {
            m_error = error;
        }
        m_failed = true;
    }

    void progress(qsizetype done, qsizetype total) {
        if (done % 200 == 0 || done == total) {
            const double seconds = std::max(0.001, m_timer.elapsed() / 1000.0);
            std::fprintf(stderr, "\rexported %lld of %lld files, %.0f files/s", qlonglong(done),
                         qlonglong(total), double(done) / seconds);
        }
    }

    routes::Site& m_site;
    const webroot::WebRoot& m_root;
    std::atomic<qsizetype> m_next{0};
    std::atomic<bool> m_failed{false};
    QElapsedTimer m_timer;
    QMutex m_lock; // guards what follows
    qsizetype m_done = 0;
    QSet<QByteArray> m_icons;
    QSet<QByteArray> m_written;
    QString m_error;
};

// What the pages need of the type database is worked out first, while the
// catalog is still being read on a thread of its own, so the pages built
// after it no longer wait on each other for it. One thread asks: the
// database answers one at a time, and two asking would only take turns.
void prepareTypes(knowledge::Knowledge& knowledge) {
    for (const QString& extension : knowledge.knownExtensions()) {
        if (StopSignals::stopping()) {
            return;
        }
        knowledge.prepare(extension);
    }
}

QString writeVersion(webroot::WebRoot& root, int jobs, routes::Site& site) {
    Run run(site, root);
    knowledge::Knowledge& knowledge = site.sources().knowledge();
    QElapsedTimer timer;
    timer.start();
    const QList<Job> pages = pageJobs(knowledge);
    prepareTypes(knowledge);
    qCDebug(lcExport, "%lld 个页面的类型资料已备好，用时 %lld 毫秒", qlonglong(pages.size()),
            qlonglong(timer.elapsed()));
    run.runAll(pages, jobs);
    qCDebug(lcExport, "页面已写好，到此用时 %lld 毫秒", qlonglong(timer.elapsed()));
    if (run.error().isEmpty() && !StopSignals::stopping()) {
        run.runAll(run.iconJobs(), jobs);
    }
    qCDebug(lcExport, "图标已写好，到此用时 %lld 毫秒", qlonglong(timer.elapsed()));
    QString error = run.error().isEmpty() ? StopSignals::reason() : run.error();
    if (error.isEmpty()) {
        error = root.prepare(run.written());
    }
    qCDebug(lcExport, "清单已写好，到此用时 %lld 毫秒", qlonglong(timer.elapsed()));
    // The last moment a signal undoes the export; after the switch it is done.
    return error.isEmpty() ? StopSignals::reason() : error;
}

} // namespace

int exportTo(const QString& directory, int jobs, routes::Site& site) {
    const StopSignals stopSignals;
    webroot::WebRoot root(directory);
    QString error = root.open();
    if (error.isEmpty()) {
        error = root.begin();
    }
    if (error.isEmpty()) {
        error = writeVersion(root, jobs, site);
    }
    if (error.isEmpty()) {
        error = root.switchOver();
    }
    if (error.isEmpty()) {
        return 0;
    }
    root.abandon();
    std::fprintf(stderr, "quelvix-site: %s\n", qPrintable(error));
    if (root.hasPrevious()) {
        std::fprintf(stderr, "quelvix-site: the export in %s is left as it was\n",
                     qPrintable(directory));
    }
    return 1;
}

} // namespace exporter

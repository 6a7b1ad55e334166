#include "exporter.h"

#include "addresses.h"
#include "knowledge.h"
#include "pages.h"
#include "publication.h"
#include "routes.h"
#include "sitelog.h"
#include "webroot.h"

#include <QCryptographicHash>
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
    QByteArray address;   // as the site is asked
    QByteArray file;      // relative to the export
    QByteArray canonical; // the page's one address, for a page that has one
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

// Page files for every extension a link may name, in the order given; an
// extension's search page names its lookup page as the one address.
QList<Task> pageTasks(const QStringList& extensions, const QByteArray& hashedStyle) {
    QList<Task> tasks = {
        {{{"/", "index.html", "/"}}, {}},
        {{{addresses::aboutPath, addresses::aboutPath + 1, addresses::aboutPath}}, {}},
        {{{"/404.html", "404.html", {}}}, {}},
        {{{"/style.css", "style.css", {}}}, {}}};
    if (!hashedStyle.isEmpty()) {
        tasks.append({{{"/style.css", hashedStyle.mid(1), {}}}, {}});
    }
    for (const QString& extension : extensions) {
        if (extension.contains(QLatin1Char('/')) || extension.startsWith(QLatin1Char('.'))) {
            continue;
        }
        Task task{{}, extension};
        const QByteArray canonical =
            addresses::pagePath(addresses::Page::Lookup, extension).toLatin1();
        for (const addresses::Page page : {addresses::Page::Lookup, addresses::Page::Search}) {
            task.jobs.append({addresses::pagePath(page, extension).toLatin1(),
                              addresses::pageFile(page, extension).toUtf8(), canonical});
        }
        tasks.append(task);
    }
    return tasks;
}

// "/icons/a.png" named by its content: "/icons/a.0123456789abcdef.png".
QByteArray hashedName(const QByteArray& address, const QByteArray& content) {
    const QByteArray hash =
        QCryptographicHash::hash(content, QCryptographicHash::Sha256).left(8).toHex();
    const qsizetype dot = address.lastIndexOf('.');
    return dot > address.lastIndexOf('/') ? address.left(dot) + '.' + hash + address.mid(dot)
                                          : address + '.' + hash;
}

QString failure(const QString& what, int error) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

// Writes every file into the new version folder, through its descriptor.
class Run {
public:
    Run(routes::Site& site, const webroot::WebRoot& root, const webroot::Say& say,
        const QUrl& publicRoot)
        : m_site(site)
        , m_root(root)
        , say(say)
        , m_publicRoot(publicRoot) {
        if (!publicRoot.isEmpty()) {
            m_style = hashedName("/assets/style.css", ask(site, "/style.css").body);
        }
    }

    // The style sheet's name by content, when the export has an address.
    QByteArray hashedStyle() const { return m_style; }

    // Each thread takes the next task until none is left, one failed or a
    // signal asked to stop, waiting if need be until its types are prepared.
    // What it wrote is told once, at the end: a lock taken per page would
    // have the threads waiting on each other.
    void work(const QList<Task>& tasks) {
        QHash<QByteArray, webroot::FileRecord> written;
        QSet<QByteArray> icons;
        QList<QByteArray> canonical;
        QString error;
        // Whatever the site throws (a thread it cannot start) fails the
        // export, which then cleans up, instead of ending the process.
        try {
            for (qsizetype i = m_next++; i < tasks.size() && !m_failed && !StopSignals::stopping();
                 i = m_next++) {
                waitUntilPrepared(i);
                for (const Job& job : tasks[i].jobs) {
                    error = writeAnswer(job, &written, &icons);
                    if (error.isEmpty() && job.canonical == job.address &&
                        written.contains(job.file)) {
                        canonical.append(job.address);
                    }
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
        m_canonical += canonical;
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
            const QByteArray file = m_iconNames.value(address, address);
            tasks.append({{{address, file.mid(1), {}}}, {}});
        }
        return tasks;
    }

    // The sitemap, robots.txt and the OpenSearch description, once the
    // pages are written.
    QString writeFindables() {
        QList<QByteArray> pages = m_canonical;
        std::sort(pages.begin(), pages.end());
        QList<QPair<QByteArray, QByteArray>> files = publication::sitemaps(m_publicRoot, pages);
        files.append({"robots.txt", publication::robots(m_publicRoot)});
        files.append({"opensearch.xml", publication::openSearch(m_publicRoot)});
        for (const auto& [file, content] : files) {
            webroot::FileRecord record;
            if (const QString error = write(file, content, &record); !error.isEmpty()) {
                return error;
            }
            m_written.insert(file, record);
        }
        return {};
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
        http::Response response = ask(m_site, job.address);
        // The 404 page is the one page whose status says so.
        if (response.status != 200 && job.address != "/404.html") {
            return {};
        }
        const bool page = job.file.endsWith(".html") || job.file.endsWith(".htm");
        if (page && !m_publicRoot.isEmpty()) {
            response.body = published(job, response);
        }
        webroot::FileRecord record;
        bool shared = false;
        QString error = write(job.file, response.body, &record, &shared);
        if (error.isEmpty()) {
            written->insert(job.file, record);
            for (const QByteArray& icon : response.icons) {
                icons->insert(icon);
            }
        }
        if (error.isEmpty() && (page || job.file.endsWith(".css"))) {
            error = writeCompressed(job.file, response.body, shared, written);
        }
        return error;
    }

    // The page as a deployed site serves it: its one address, what it is
    // about, the search box for the browser, assets named by content.
    QByteArray published(const Job& job, const http::Response& response) {
        QByteArray body = response.body;
        body.replace("href=\"/style.css\"", "href=\"" + m_style + '"');
        for (const QByteArray& icon : response.icons) {
            body.replace('"' + icon + '"', '"' + iconName(icon) + '"');
        }
        return publication::withHeadTags(
            body, publication::headTags(m_publicRoot, job.canonical, response.description));
    }

    QByteArray iconName(const QByteArray& address) {
        {
            const QMutexLocker locker(&m_lock);
            if (const auto known = m_iconNames.constFind(address); known != m_iconNames.cend()) {
                return *known;
            }
        }
        const QByteArray name = hashedName(address, ask(m_site, address).body);
        const QMutexLocker locker(&m_lock);
        m_iconNames.insert(address, name);
        return name;
    }

    // Beside the file, its gzip and brotli forms where they are smaller: a
    // web server sends them as they are, to a client that takes them.
    QString writeCompressed(const QByteArray& file, const QByteArray& content, bool shared,
                            QHash<QByteArray, webroot::FileRecord>* written) {
        for (const auto& [suffix, compress] :
             {std::pair{".gz", &publication::gzip}, std::pair{".br", &publication::brotli}}) {
            const QByteArray name = file + suffix;
            webroot::FileRecord record;
            // The same page gives the same compressed file: kept, not made again.
            if (shared && m_root.reuse(name, {}, &record)) {
                written->insert(name, record);
                continue;
            }
            const QByteArray compressed = compress(content);
            if (compressed.isEmpty()) {
                continue;
            }
            if (const QString error = write(name, compressed, &record); !error.isEmpty()) {
                return error;
            }
            written->insert(name, record);
        }
        return {};
    }

    // Bytes the live export already holds as it wrote them are shared with
    // it, so their time stays and a sync moves only what changed.
    QString write(const QByteArray& file, const QByteArray& content, webroot::FileRecord* record,
                  bool* shared = nullptr) {
        const QString path = m_root.versionPath() + QLatin1Char('/') + QString::fromUtf8(file);
        if (!safefs::isPlainPath(file)) {
            return say("不会写 %1：它不是普通的路径", "will not write %1: not a plain path")
                .arg(path);
        }
        struct stat info {};
        info.st_size = content.size();
        const webroot::FileRecord fresh =
            webroot::FileRecord::of(webroot::FileRecord::hashOf(content), info);
        if (m_root.reuse(file, fresh, record)) {
            if (shared != nullptr) {
                *shared = true;
            }
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
        *record = webroot::FileRecord::of(fresh.hash, info);
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
    const QUrl m_publicRoot;
    QByteArray m_style; // the style sheet's name by content, with an address
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
    QHash<QByteArray, QByteArray> m_iconNames; // by content, with an address
    QList<QByteArray> m_canonical;             // the pages of a sitemap
    QString m_error;
    bool m_warnedThreads = false;
};

QString writeVersion(webroot::WebRoot& root, const Options& options, routes::Site& site,
                     const webroot::Say& say, qsizetype* written, qsizetype* changed) {
    const int jobs = options.jobs;
    Run run(site, root, say, options.publicRoot);
    knowledge::Knowledge& knowledge = site.sources().knowledge();
    QElapsedTimer timer;
    timer.start();
    const QStringList extensions = knowledge.knownExtensions();
    qCDebug(lcExport, "%lld 个扩展名已列出，用时 %lld 毫秒", qlonglong(extensions.size()),
            qlonglong(timer.elapsed()));
    run.runAll(pageTasks(extensions, run.hashedStyle()), jobs, &knowledge);
    qCDebug(lcExport, "页面已写好，到此用时 %lld 毫秒", qlonglong(timer.elapsed()));
    if (run.error().isEmpty() && !StopSignals::stopping()) {
        run.runAll(run.iconTasks(), jobs);
    }
    qCDebug(lcExport, "图标已写好，到此用时 %lld 毫秒", qlonglong(timer.elapsed()));
    QString error = run.error().isEmpty() ? StopSignals::reason(say) : run.error();
    if (error.isEmpty() && !options.publicRoot.isEmpty()) {
        error = run.writeFindables();
    }
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
    webroot::WebRoot root(directory, options.chinese, !options.publicRoot.isEmpty());
    qsizetype written = 0;
    qsizetype changed = 0;
    QString error = root.open();
    if (error.isEmpty()) {
        error = root.begin();
    }
    if (error.isEmpty()) {
        error = writeVersion(root, options, site, say, &written, &changed);
    }
    if (error.isEmpty()) {
        error = root.switchOver();
    }
    if (error.isEmpty()) {
        // The last line says what a sync moves, and what an address would add.
        QString done = say("已导出到 %1：%2 个文件，其中 %3 个有变化",
                           "exported into %1: %2 files, %3 of them changed")
                           .arg(directory)
                           .arg(written)
                           .arg(changed);
        if (options.publicRoot.isEmpty()) {
            done += say("；没有给出 --public-root，所以没有写 sitemap.xml、robots.txt 和 "
                        "opensearch.xml，页面中也没有绝对地址",
                        "; without --public-root, sitemap.xml, robots.txt, opensearch.xml and "
                        "the pages' absolute addresses were left out");
        }
        std::fprintf(stderr, "%s\n", qPrintable(done));
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

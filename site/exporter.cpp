#include "exporter.h"

#include "knowledge.h"
#include "routes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <atomic>
#include <cstdio>
#include <thread>

namespace exporter {
namespace {

// Written here first and moved into place once everything is.
constexpr const char* partialName = ".quelvix-export-partial";

struct Job {
    QByteArray address; // as the site is asked
    QString file;       // relative to the export
};

http::Response ask(routes::Site& site, const QByteArray& address) {
    http::Request request;
    request.method = "GET";
    request.path = address;
    return site.respond(request);
}

bool writeFile(const QString& path, const QByteArray& content, QString* error) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

// Page files for every extension a link may name.
QList<Job> pageJobs() {
    QList<Job> jobs = {{"/", QStringLiteral("index.html")},
                       {"/404.html", QStringLiteral("404.html")},
                       {"/style.css", QStringLiteral("style.css")}};
    for (const QString& extension : knowledge::knownExtensions()) {
        if (extension.contains(QLatin1Char('/')) || extension.startsWith(QLatin1Char('.'))) {
            continue;
        }
        const QByteArray encoded = QUrl::toPercentEncoding(extension);
        jobs.append({"/filefound/" + encoded + ".html",
                     QStringLiteral("filefound/%1.html").arg(extension)});
        jobs.append({"/soso/" + encoded + ".htm", QStringLiteral("soso/%1.htm").arg(extension)});
    }
    return jobs;
}

QSet<QByteArray> iconsIn(const QByteArray& page) {
    static const QRegularExpression icon(QStringLiteral("src=\"(/icons/[^\"]+)\""));
    QSet<QByteArray> found;
    for (const QRegularExpressionMatch& match : icon.globalMatch(QString::fromUtf8(page))) {
        found.insert(match.captured(1).toLatin1());
    }
    return found;
}

class Run {
public:
    Run(routes::Site& site, const QString& root)
        : m_site(site)
        , m_root(root) {}

    // Each thread takes the next job until none is left or one failed.
    void work(const QList<Job>& jobs) {
        for (qsizetype i = m_next++; i < jobs.size() && m_error.isEmpty(); i = m_next++) {
            const http::Response response = ask(m_site, jobs[i].address);
            // The 404 page is the one page whose status says so.
            if (response.status != 200 && jobs[i].address != "/404.html") {
                continue;
            }
            QString error;
            if (!writeFile(m_root + QLatin1Char('/') + jobs[i].file, response.body, &error)) {
                const QMutexLocker locker(&m_lock);
                m_error = error;
                return;
            }
            const QSet<QByteArray> icons = iconsIn(response.body);
            const QMutexLocker locker(&m_lock);
            m_icons.unite(icons);
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
            jobs.append({address, QString::fromLatin1(address.mid(1))});
        }
        return jobs;
    }

    QString error() const { return m_error; }

private:
    void progress(qsizetype done, qsizetype total) {
        if (done % 200 == 0 || done == total) {
            const double seconds = std::max(0.001, m_timer.elapsed() / 1000.0);
            std::fprintf(stderr, "\rexported %lld of %lld files, %.0f files/s", qlonglong(done),
                         qlonglong(total), double(done) / seconds);
        }
    }

    routes::Site& m_site;
    const QString m_root;
    std::atomic<qsizetype> m_next{0};
    qsizetype m_done = 0;
    QElapsedTimer m_timer;
    QMutex m_lock;
    QSet<QByteArray> m_icons;
    QString m_error;
};

// Moves what was exported into the directory, replacing earlier files of the
// same names and nothing else.
QString moveIntoPlace(const QString& partial, const QString& directory) {
    QDir into(directory);
    for (const QString& name : QDir(partial).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = into.filePath(name);
        if (QFileInfo(target).isDir()) {
            QDir(target).removeRecursively();
        } else {
            QFile::remove(target);
        }
        if (!QDir().rename(partial + QLatin1Char('/') + name, target)) {
            return QStringLiteral("cannot move %1 into %2").arg(name, directory);
        }
    }
    return {};
}

QString prepare(const QString& directory, bool* created) {
    const QFileInfo info(directory);
    if (info.exists() && !info.isDir()) {
        return QStringLiteral("%1 exists and is not a directory").arg(directory);
    }
    *created = !info.exists();
    if (*created && !QDir().mkpath(directory)) {
        return QStringLiteral("cannot create the directory %1").arg(directory);
    }
    const QString partial = QDir(directory).filePath(QLatin1String(partialName));
    QDir(partial).removeRecursively();
    if (!QDir().mkpath(partial) || !QFileInfo(partial).isWritable()) {
        return QStringLiteral("cannot write into %1").arg(directory);
    }
    return {};
}

} // namespace

int exportTo(const QString& directory, int jobs, routes::Site& site) {
    bool created = false;
    QString error = prepare(directory, &created);
    const QString partial = QDir(directory).filePath(QLatin1String(partialName));
    if (error.isEmpty()) {
        Run run(site, partial);
        run.runAll(pageJobs(), jobs);
        if (run.error().isEmpty()) {
            run.runAll(run.iconJobs(), jobs);
        }
        error = run.error().isEmpty() ? moveIntoPlace(partial, directory) : run.error();
    }
    QDir(partial).removeRecursively();
    if (error.isEmpty()) {
        return 0;
    }
    if (created) {
        QDir(directory).removeRecursively();
    }
    std::fprintf(stderr, "quelvix-site: %s\n", qPrintable(error));
    return 1;
}

} // namespace exporter

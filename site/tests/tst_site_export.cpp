// The public site as static files, and nginx serving them as shipped.
#include "fixtures.h"
#include "publication.h"
#include "siteprocess.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <brotli/decode.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray errors;
};

Run finished(QProcess& process) {
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardError()};
}

Run exportSite(const QProcessEnvironment& env, const QStringList& arguments,
               const std::function<void()>& inChild = {}) {
    QProcess process;
    process.setProcessEnvironment(env);
    if (inChild) {
        process.setChildProcessModifier(inChild);
    }
    process.start(QStringLiteral(QUELVIX_SITE_BINARY), arguments);
    return finished(process);
}

// What a web server finds in the directory: every file by its address,
// links followed, the export's own hidden entries left out.
QMap<QString, QByteArray> tree(const QString& directory) {
    QMap<QString, QByteArray> files;
    QDirIterator it(directory, QDir::Files,
                    QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
    while (it.hasNext()) {
        QFile file(it.next());
        const QString path = QDir(directory).relativeFilePath(file.fileName());
        if (!path.startsWith('.') && file.open(QIODevice::ReadOnly)) {
            files.insert(path, file.readAll());
        }
    }
    return files;
}

// Everything in the directory as it lies on disk, nothing followed: files
// with their content, links with their target, folders with their mode.
QMap<QString, QByteArray> onDisk(const QString& directory) {
    QMap<QString, QByteArray> entries;
    QDirIterator it(directory,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString path = QDir(directory).relativeFilePath(info.filePath());
        QFile file(info.filePath());
        if (info.isSymLink()) {
            char target[4096] = {};
            entries[path] =
                "link to " +
                QByteArray(target, std::max<ssize_t>(0, ::readlink(qPrintable(info.filePath()),
                                                                   target, sizeof target)));
        } else if (info.isDir()) {
            entries[path] = "folder " + QByteArray::number(int(info.permissions()), 16);
        } else {
            entries[path] = file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable";
        }
    }
    return entries;
}

// Without the export's own entries in the directory `site`.
QMap<QString, QByteArray> othersOf(QMap<QString, QByteArray> entries) {
    static const QRegularExpression own(
        "^site/(\\.quelvix-export-((tmp-)?[A-Za-z0-9]{12}(/"
        ".*)?|manifest|current)|\\.quelvix-export\\.lock|"
        "index\\.html|404\\.html|style\\.css|filefound|soso|icons)$");
    entries.removeIf([](const auto& entry) { return own.match(entry.key()).hasMatch(); });
    return entries;
}

QStringList versionsIn(const QString& site) {
    return QDir(site).entryList({".quelvix-export-????????????"},
                                QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A small filesystem of its own for the directory when the test may mount
// one, else a file size limit on the export.
class Cramped {
public:
    Cramped(QString base, bool wanted)
        : m_base(std::move(base)) {
        m_mounted = wanted && ::geteuid() == 0 &&
                    ::mount("tmpfs", qPrintable(m_base), "tmpfs", 0, "size=64m") == 0;
    }
    ~Cramped() {
        if (m_mounted) {
            ::umount2(qPrintable(m_base), MNT_DETACH);
        }
    }
    // Fills it all but a few pages, so the export fails among its pages.
    bool fill() const {
        if (!m_mounted) {
            return true;
        }
        QFile filler(m_base + "/filler");
        const QByteArray block(65536, 'x');
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            return false;
        }
        while (filler.write(block) > 0) {
        }
        return filler.resize(std::max<qint64>(0, filler.size() - 16384));
    }
    std::function<void()> limit() const {
        if (m_mounted) {
            return {};
        }
        return [] {
            const rlimit small{2048, 2048};
            ::setrlimit(RLIMIT_FSIZE, &small);
        };
    }

private:
    QString m_base;
    bool m_mounted = false;
};

enum Hostile {
    UserFiles,
    UserFolders,
    IconsLinkedOutside,
    LiveFolderLinkedOutside,
    PlantedPartial,
    PlantedManifest,
    PlantedLock,
    PlantedCurrent,
    FullDisk,
    HeldLock,
    Terminated,
    EditedPage,
    ReplacedPage,
    ManifestListsUserFiles,
    ManifestMarksLivePartial,
    KilledAtSwitch,
    HugeManifest,
    NoThreads,
};

// The live version's manifest with one more line after the line that
// starts with `after`.
bool addToManifest(const QString& site, const QByteArray& after, const QByteArray& line) {
    QFile file(site + "/.quelvix-export-manifest");
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QByteArray text = file.readAll();
    const qsizetype at = text.indexOf('\n', text.indexOf("\n" + after) + 1);
    if (at < 0) {
        return false;
    }
    text.insert(at + 1, line + '\n');
    file.close();
    return writeFile(file.fileName(), text);
}

QByteArray liveVersion(const QString& site) {
    return QFileInfo(site + "/.quelvix-export-current").symLinkTarget().section('/', -1).toUtf8();
}

enum Published {
    SitemapListsPages,
    CanonicalResolves,
    HashedAssetsExist,
    CompressedAsThePage,
    SecondExportKeepsTimes,
    RootRefused,
    UnpublishedSaysSo,
    SitemapSplit,
    AboutPage,
};

const QByteArray publicRoot = "https://lookup.example.org";

QByteArray gunzip(const QByteArray& packed) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) {
        return "not gzip";
    }
    QByteArray out(1 << 22, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    stream.avail_in = uInt(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : "not whole";
}

QByteArray unbrotli(const QByteArray& packed) {
    size_t size = 1 << 22;
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    const bool done = BrotliDecoderDecompress(size_t(packed.size()),
                                              reinterpret_cast<const uint8_t*>(packed.constData()),
                                              &size, reinterpret_cast<uint8_t*>(out.data())) ==
                      BROTLI_DECODER_RESULT_SUCCESS;
    out.truncate(qsizetype(size));
    return done ? out : "not brotli";
}

// Every file's modification time in nanoseconds, links followed.
QMap<QString, qint64> timesOf(const QString& directory) {
    QMap<QString, qint64> times;
    QDirIterator it(directory, QDir::Files,
                    QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info {};
        if (!QDir(directory).relativeFilePath(path).startsWith('.') &&
            ::stat(qPrintable(path), &info) == 0) {
            times.insert(QDir(directory).relativeFilePath(path),
                         qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec);
        }
    }
    return times;
}

bool isPage(const QString& path) {
    return (path.endsWith(".html") || path.endsWith(".htm")) && path != "404.html";
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class TestSiteExport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void exportIsCompleteAndReproducible();
    void everyReferenceResolves();
    void nginxServesWhatTheSiteServes();
    void unwritableTargetsFailCleanly_data();
    void unwritableTargetsFailCleanly();
    void hostileTargetsLoseNothing_data();
    void hostileTargetsLoseNothing();
    void publishedSiteIsFoundAndCached_data();
    void publishedSiteIsFoundAndCached();
    void debianNginxTakesTheShippedFile();

private:
    void makeHostile(Hostile hostile, const QString& site, const QString& outside);

    TestWorld m_world;
    QString m_export;
    QString m_published; // exported with --public-root
    QByteArray m_unpublishedErrors;
    QStringList m_catalog;
};

void TestSiteExport::initTestCase() {
    QVERIFY(m_world.make(false));
    m_catalog = {"--catalog", m_world.catalog};
    m_export = m_world.dir.filePath("out/site");
    const Run run = exportSite(m_world.env, QStringList{"--export", m_export} + m_catalog);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.errors.contains("已导出"), run.errors.constData());
    m_unpublishedErrors = run.errors;
    m_published = m_world.dir.filePath("published/site");
    const Run published = exportSite(
        m_world.env,
        QStringList{"--export", m_published, "--public-root", publicRoot + "/"} + m_catalog);
    QVERIFY2(published.exitCode == 0, published.errors.constData());
}

void TestSiteExport::exportIsCompleteAndReproducible() {
    const QMap<QString, QByteArray> first = tree(m_export);
    for (const char* name :
         {"index.html", "404.html", "style.css", "filefound/qvxtest.html", "soso/qvxtest.htm",
          "filefound/qvxt2.html", "soso/qvxt2.htm", "icons/catalog/org.example.Zh.png",
          // Pages under the names the sibling links use: lower case, a range expanded.
          "soso/qvxcap.htm", "soso/qvxn2.htm"}) {
        QVERIFY2(first.contains(name), name);
    }
    // Public pages leave this machine's programs out, and keep the catalog's.
    const QString page = QString::fromUtf8(first.value("soso/qvxtest.htm"));
    QVERIFY(!page.contains("本机已安装"));
    QVERIFY(page.contains("Installed Viewer"));
    // The home speaks to a web visitor, who has neither the app nor this machine.
    const QString home = QString::fromUtf8(first.value("index.html"));
    QVERIFY(home.contains("<form action=\"/search\""));
    for (const char* appOnly : {"本机", "F1", "Ctrl+S"}) {
        QVERIFY2(!home.contains(appOnly), appOnly);
    }
    // Nothing beside the export.
    QCOMPARE(QDir(m_world.dir.filePath("out"))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"site"});

    const QString again = m_world.dir.filePath("again");
    const Run run =
        exportSite(m_world.env, QStringList{"--export", again, "--jobs", "3"} + m_catalog);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(tree(again) == first);
}

void TestSiteExport::everyReferenceResolves() {
    static const QRegularExpression reference("(?:href|src)=\"(/[^\"]*)\"");
    const QMap<QString, QByteArray> files = tree(m_export);
    int checked = 0;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        if (!file.key().endsWith(".html") && !file.key().endsWith(".htm")) {
            continue;
        }
        for (const QRegularExpressionMatch& match :
             reference.globalMatch(QString::fromUtf8(file.value()))) {
            const QString target = QUrl::fromPercentEncoding(match.captured(1).toUtf8());
            const QString path = target == "/" ? "index.html" : target.mid(1);
            QVERIFY2(files.contains(path), qPrintable(file.key() + " -> " + target));
            ++checked;
        }
    }
    QVERIFY2(checked >= 12, qPrintable(QString::number(checked)));
}

void TestSiteExport::nginxServesWhatTheSiteServes() {
    const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"});
    if (nginx.isEmpty()) {
        QSKIP("nginx is not installed");
    }
    const quint16 port = freePort();
    Site dynamic(m_world.env, QStringList{"--public"} + m_catalog);
    QVERIFY(dynamic.isUp());
    const QString conf = m_world.dir.filePath("nginx");
    QFile shipped(QUELVIX_SOURCE_DIR "/deploy/nginx.conf");
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QByteArray server = shipped.readAll();
    server.replace("listen 80;", "listen 127.0.0.1:" + QByteArray::number(port) + ";");
    server.replace("listen [::]:80;", "");
    server.replace("root /var/www/quelvix;", "root " + m_export.toUtf8() + ";");
    server.replace("server 127.0.0.1:27300;", "server " + dynamic.host() + ";");
    server.replace("/etc/nginx/quelvix-proxy.conf", conf.toUtf8() + "/quelvix-proxy.conf");
    QVERIFY(writeFile(conf + "/quelvix.conf", server));
    QVERIFY(
        QFile::copy(QUELVIX_SOURCE_DIR "/deploy/quelvix-proxy.conf", conf + "/quelvix-proxy.conf"));
    QVERIFY(writeFile(conf + "/nginx.conf", "worker_processes 1; pid " + conf.toUtf8() +
                                                "/nginx.pid; error_log stderr;\n"
                                                "events {}\nhttp { access_log off; include " +
                                                conf.toUtf8() + "/quelvix.conf; }\n"));
    // Its workers run as nobody.
    for (QString dir = m_export; dir.startsWith(QDir::tempPath() + "/");
         dir = QFileInfo(dir).path()) {
        QFile::setPermissions(dir, QFile::permissions(dir) | QFile::ReadOther | QFile::ExeOther);
    }
    // An asset named by its content, as a published export names them.
    QVERIFY(writeFile(m_export + "/icons/qvx.0123456789abcdef.png", "png"));
    QProcess nginxProcess;
    nginxProcess.start(nginx, {"-p", conf, "-c", conf + "/nginx.conf", "-g", "daemon off;"});
    QVERIFY(nginxProcess.waitForStarted());
    auto fromNginx = [port](const QByteArray& target) {
        return getFrom(port, target);
    };
    QTRY_COMPARE_WITH_TIMEOUT(fromNginx("/").status, 200, 10000);

    for (const QByteArray target : {"/filefound/qvxtest.html", "/soso/qvxtest.htm"}) {
        const Reply served = fromNginx(target);
        QCOMPARE(served.status, 200);
        QCOMPARE(served.body, dynamic.get(target).body);
        QVERIFY(served.headers.contains("Content-Type: text/html; charset=utf-8"));
        QVERIFY(served.headers.contains("Cache-Control: public, max-age=600"));
        QVERIFY(served.headers.contains("Content-Security-Policy: default-src 'none'"));
        QVERIFY(served.headers.contains("X-Content-Type-Options: nosniff"));
    }
    // What no file answers goes on to the site: letter case, the search box
    // with a file name, an unknown extension with the site's suggestions.
    const Reply upper = fromNginx("/soso/QVXTEST.htm");
    QCOMPARE(upper.status, 200);
    QCOMPARE(upper.body, dynamic.get("/soso/QVXTEST.htm").body);
    QCOMPARE(upper.headers.count("Content-Security-Policy"), 1);
    const Reply searched = fromNginx("/search?ext=report.QVXTEST");
    QCOMPARE(searched.status, 303);
    QVERIFY2(searched.headers.contains("Location: /soso/qvxtest.htm"), searched.headers);
    const Reply unknown = fromNginx("/soso/qqqzzz.htm");
    QCOMPARE(unknown.status, 404);
    QCOMPARE(unknown.body, dynamic.get("/soso/qqqzzz.htm").body);
    QCOMPARE(fromNginx("/.quelvix-export-manifest").status, 404);
    // A page compressed once, by the export: the file beside it, as it is.
    QFile packed(m_export + "/filefound/qvxtest.html.gz");
    QVERIFY(packed.open(QIODevice::ReadOnly));
    const Reply gzipped =
        exchange(port, "GET /filefound/qvxtest.html HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                       "Accept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    QCOMPARE(gzipped.status, 200);
    QVERIFY2(gzipped.headers.contains("Content-Encoding: gzip"), gzipped.headers);
    QVERIFY2(gzipped.headers.contains("Content-Length: " + QByteArray::number(packed.size())),
             gzipped.headers);
    const Reply icon = fromNginx("/icons/catalog/org.example.Zh.png");
    QVERIFY(icon.headers.contains("Content-Type: image/png"));
    QVERIFY(icon.headers.contains("Cache-Control: public, max-age=86400"));
    QVERIFY(fromNginx("/icons/qvx.0123456789abcdef.png")
                .headers.contains("Cache-Control: public, max-age=31536000, immutable"));
    QVERIFY(QFile::remove(m_export + "/icons/qvx.0123456789abcdef.png"));
    nginxProcess.terminate();
    nginxProcess.waitForFinished();
}

void TestSiteExport::unwritableTargetsFailCleanly_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("a file") << m_world.dir.filePath("a-file");
    QTest::newRow("under a file") << m_world.dir.filePath("a-file/site");
    QTest::newRow("not writable") << QStringLiteral("/proc/quelvix-export");
}

void TestSiteExport::unwritableTargetsFailCleanly() {
    QFETCH(QString, target);
    QVERIFY(writeFile(m_world.dir.filePath("a-file"), "keep me"));
    const Run run = exportSite(m_world.env, QStringList{"--export", target} + m_catalog);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains("quelvix-site: "), run.errors.constData());
    QFile kept(m_world.dir.filePath("a-file"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("keep me"));
    QVERIFY(!QFileInfo::exists(target) || target.endsWith("a-file"));
}

// A web root where others write too, or that someone prepared against the
// export: nothing but the export's own files may change, a failure exits 1
// with the reason and leaves the previous export as it was.
void TestSiteExport::hostileTargetsLoseNothing_data() {
    QTest::addColumn<int>("hostile");
    QTest::addColumn<bool>("previous");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("reason");
    const QByteArray notOurs = "不是导出建立的";
    const QByteArray edited = "写好后被改过、换过";
    QTest::newRow("user files in the directory and in each folder")
        << int(UserFiles) << true << 0 << QByteArray();
    QTest::newRow("a user's own folders and page by the export's names")
        << int(UserFolders) << false << 1 << notOurs;
    QTest::newRow("icons linked to a folder outside")
        << int(IconsLinkedOutside) << false << 1 << notOurs;
    QTest::newRow("a folder in the live export linked outside")
        << int(LiveFolderLinkedOutside) << true << 1 << QByteArray("不是导出写的");
    QTest::newRow("a planted partial-folder link")
        << int(PlantedPartial) << true << 0 << QByteArray();
    QTest::newRow("a planted manifest link")
        << int(PlantedManifest) << false << 1 << QByteArray("不是导出写的清单");
    QTest::newRow("a planted lock link") << int(PlantedLock) << false << 1 << QByteArray("锁文件");
    QTest::newRow("a planted current-version link") << int(PlantedCurrent) << true << 1 << notOurs;
    QTest::newRow("a full disk") << int(FullDisk) << true << 1 << QByteArray("无法写入");
    QTest::newRow("a second export at once")
        << int(HeldLock) << true << 1 << QByteArray("另一个导出");
    QTest::newRow("SIGTERM mid-way") << int(Terminated) << true << 1 << QByteArray("SIGTERM");
    QTest::newRow("a page edited in place") << int(EditedPage) << true << 1 << edited;
    QTest::newRow("a page replaced by the user's") << int(ReplacedPage) << true << 1 << edited;
    QTest::newRow("a manifest that lists the user's files")
        << int(ManifestListsUserFiles) << true << 0 << QByteArray();
    QTest::newRow("a manifest that marks the live version partial")
        << int(ManifestMarksLivePartial) << true << 0 << QByteArray();
    QTest::newRow("an export killed at the switch")
        << int(KilledAtSwitch) << true << 0 << QByteArray();
    QTest::newRow("a manifest too large to be ours")
        << int(HugeManifest) << true << 1 << QByteArray("不是导出写的清单");
    QTest::newRow("no thread can be started")
        << int(NoThreads) << true << 0 << QByteArray("只能启动 1 个线程");
}

void TestSiteExport::makeHostile(Hostile hostile, const QString& site, const QString& outside) {
    switch (hostile) {
    case UserFiles:
        // Some written into the export's folders, through its public names.
        for (const char* name : {"robots.txt", "mine/a.txt", "filefound/mine.html",
                                 "soso/sub/mine.htm", "icons/mine.png", "icons/catalog/mine.png"}) {
            QVERIFY(writeFile(site + "/" + name, name));
        }
        QVERIFY(QFile::link("mine.htm", site + "/soso/sub/link.htm"));
        break;
    case UserFolders:
        for (const char* name : {"filefound/a.html", "soso/b.htm", "icons/c.png", "index.html"}) {
            QVERIFY(writeFile(site + "/" + name, name));
        }
        break;
    case IconsLinkedOutside:
        QVERIFY(QDir().mkpath(site));
        QVERIFY(QFile::link(outside, site + "/icons"));
        break;
    case LiveFolderLinkedOutside: {
        const QString catalog = QFileInfo(site + "/icons/catalog").canonicalFilePath();
        QVERIFY(QDir(catalog).removeRecursively());
        QVERIFY(QFile::link(outside, catalog));
        break;
    }
    case PlantedPartial:
        QVERIFY(QFile::link(outside, site + "/.quelvix-export-partial"));
        break;
    case PlantedManifest:
        QVERIFY(QDir().mkpath(site));
        QVERIFY(QFile::link(outside + "/precious.txt", site + "/.quelvix-export-manifest"));
        break;
    case PlantedLock:
        QVERIFY(QDir().mkpath(site));
        QVERIFY(QFile::link(outside + "/made-by-the-export", site + "/.quelvix-export.lock"));
        break;
    case PlantedCurrent:
        QVERIFY(QFile::remove(site + "/.quelvix-export-current"));
        QVERIFY(QFile::link(outside, site + "/.quelvix-export-current"));
        break;
    case EditedPage: {
        QFile page(site + "/index.html");
        QVERIFY(page.open(QIODevice::ReadWrite));
        QVERIFY(page.seek(page.size()));
        QVERIFY(page.write("<!-- mine -->") > 0);
        break;
    }
    case ReplacedPage:
        QVERIFY(QFile::remove(site + "/filefound/qvxtest.html"));
        QVERIFY(writeFile(site + "/filefound/qvxtest.html", "my own page"));
        break;
    case ManifestListsUserFiles:
    case ManifestMarksLivePartial: {
        for (const char* name : {"soso/mine.htm", "icons/mine.png"}) {
            QVERIFY(writeFile(site + "/" + name, name));
        }
        const QByteArray live = liveVersion(site);
        if (hostile == ManifestMarksLivePartial) {
            QVERIFY(addToManifest(site, "quelvix-export manifest", "partial " + live));
            break;
        }
        // Listed as the export lists its own files, with a page's size, time and hash.
        QFile manifest(site + "/.quelvix-export-manifest");
        QVERIFY(manifest.open(QIODevice::ReadOnly));
        const QByteArray text = manifest.readAll();
        const qsizetype page = text.indexOf("\nfile soso/qvxtest.htm");
        QVERIFY(page >= 0);
        const QByteArray line = text.mid(page + 1, text.indexOf('\n', page + 1) - page - 1);
        for (const char* name : {"soso/mine.htm", "icons/mine.png"}) {
            QVERIFY(addToManifest(site, "version " + live,
                                  QByteArray(line).replace("soso/qvxtest.htm", name)));
        }
        break;
    }
    case KilledAtSwitch: {
        const QString strace = QStandardPaths::findExecutable("strace");
        if (strace.isEmpty()) {
            QSKIP("strace is not installed: an export cannot be stopped at its switch");
        }
        QVERIFY(writeFile(site + "/soso/mine.htm", "mine"));
        // The switch makes the export's first link (the public ones are there).
        QProcess killed;
        killed.setProcessEnvironment(m_world.env);
        killed.start(strace, QStringList{"-f", "-o", "/dev/null", "-e", "trace=symlinkat", "-e",
                                         "inject=symlinkat:signal=SIGKILL:when=1",
                                         QUELVIX_SITE_BINARY, "--export", site} +
                                 m_catalog);
        QVERIFY(killed.waitForFinished(120000));
        QCOMPARE(versionsIn(site).size(), 2);
        break;
    }
    case HugeManifest: {
        // Valid lines, more of them than any export writes.
        QByteArray lines;
        for (int i = 0; i < 500000; ++i) {
            lines += "dir filefound/" + QByteArray::number(i) + "/padding-to-a-long-line\n";
        }
        lines.chop(1);
        QVERIFY(addToManifest(site, "version " + liveVersion(site), lines));
        break;
    }
    case NoThreads:
        break;
    default:
        break;
    }
}

void TestSiteExport::hostileTargetsLoseNothing() {
    QFETCH(int, hostile);
    QFETCH(bool, previous);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, reason);
    const QString base = m_world.dir.filePath(QString("hostile/%1").arg(hostile));
    const QString site = base + "/site";
    const QString outside = base + "/outside";
    QVERIFY(QDir().mkpath(base));
    const Cramped cramped(base, hostile == FullDisk);
    QVERIFY(writeFile(outside + "/precious.txt", "keep me"));
    QVERIFY(writeFile(outside + "/deeper/precious.png", "keep me too"));
    const QStringList arguments = QStringList{"--export", site, "--jobs", "3"} + m_catalog;
    if (previous) {
        const Run run = exportSite(m_world.env, arguments);
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QCOMPARE(tree(site), tree(m_export));
    }
    makeHostile(Hostile(hostile), site, outside);
    if (QTest::currentTestFailed()) {
        return;
    }
    QVERIFY(hostile != FullDisk || cramped.fill());
    // Held the way a running export holds it.
    const int lock = hostile == HeldLock ? ::open(qPrintable(site + "/.quelvix-export.lock"),
                                                  O_RDWR | O_CREAT | O_CLOEXEC, 0644)
                                         : -1;
    const auto unlock = qScopeGuard([lock] {
        if (lock >= 0) {
            ::close(lock);
        }
    });
    QVERIFY(hostile != HeldLock || ::flock(lock, LOCK_EX | LOCK_NB) == 0);
    const QMap<QString, QByteArray> before = onDisk(base);
    const QMap<QString, QByteArray> servedBefore = tree(site);
    Run run;
    if (hostile == Terminated) {
        // The whole system's MIME database: long enough to stop half-way.
        QProcessEnvironment env = m_world.env;
        env.insert("XDG_DATA_DIRS", m_world.share + ":/usr/share");
        QProcess process;
        process.setProcessEnvironment(env);
        process.setReadChannel(QProcess::StandardError);
        process.start(QStringLiteral(QUELVIX_SITE_BINARY), arguments);
        QByteArray progress;
        while (!progress.contains("已导出") && process.waitForReadyRead(60000)) {
            progress += process.readAllStandardError();
        }
        QVERIFY2(progress.contains("已导出"), progress.constData());
        process.terminate();
        run = finished(process);
    } else {
        std::function<void()> inChild = hostile == FullDisk ? cramped.limit() : nullptr;
        if (hostile == NoThreads) {
            // A thread's stack as large as this limit cannot be had.
            inChild = [] {
                const rlimit huge{rlim_t(1) << 46, RLIM_INFINITY};
                ::setrlimit(RLIMIT_STACK, &huge);
            };
        }
        run = exportSite(m_world.env, arguments, inChild);
    }
    QVERIFY2(run.exitCode == exitCode, run.errors.constData());
    QVERIFY2(run.errors.contains(reason), run.errors.constData());
    if (exitCode != 0) {
        QVERIFY2(run.errors.contains("quelvix-site: "), run.errors.constData());
        QCOMPARE(onDisk(base), before);
        return;
    }
    // Exported afresh, others' files where they were and still served.
    QCOMPARE(othersOf(onDisk(base)), othersOf(before));
    QCOMPARE(tree(site), servedBefore);
    QCOMPARE(versionsIn(site).size(), 1);
    QVERIFY(
        QDir(site)
            .entryList({".quelvix-export-tmp-*"}, QDir::AllEntries | QDir::Hidden | QDir::System)
            .isEmpty());
    QVERIFY(!QFileInfo::exists(site + "/.quelvix-export.lock"));
    QVERIFY(before.value("site/.quelvix-export-current") !=
            onDisk(base).value("site/.quelvix-export-current"));
}

// An export given the site's address: found by search engines and browsers,
// its assets cacheable for good, its pages precompressed, and a re-export of
// the same data moving nothing.
void TestSiteExport::publishedSiteIsFoundAndCached_data() {
    QTest::addColumn<int>("check");
    QTest::newRow("the sitemap lists every page once, and only pages") << int(SitemapListsPages);
    QTest::newRow("each page's canonical address is a page") << int(CanonicalResolves);
    QTest::newRow("assets named by their content, all there") << int(HashedAssetsExist);
    QTest::newRow("each .gz and .br holds its file's bytes") << int(CompressedAsThePage);
    QTest::newRow("a second export of the same data changes nothing")
        << int(SecondExportKeepsTimes);
    QTest::newRow("a root that is not http(s) is refused") << int(RootRefused);
    QTest::newRow("without a root the last line says what was left out") << int(UnpublishedSaysSo);
    QTest::newRow("a sitemap of more than 50,000 pages is split") << int(SitemapSplit);
    QTest::newRow("the about page is there, and every page leads to it") << int(AboutPage);
}

void TestSiteExport::publishedSiteIsFoundAndCached() {
    QFETCH(int, check);
    static const QRegularExpression loc("<loc>([^<]*)</loc>");
    static const QRegularExpression canonical("<link rel=\"canonical\" href=\"([^\"]*)\">");
    static const QRegularExpression asset("(?:href|src)=\"/((?:assets|icons)/[^\"]*)\"");
    static const QRegularExpression hashed("\\.([0-9a-f]{16})\\.[a-z]+$");
    const QMap<QString, QByteArray> files = tree(m_published);
    const auto pathOf = [](const QString& address) {
        const QString path = QUrl::fromPercentEncoding(address.mid(publicRoot.size()).toUtf8());
        return path == "/" ? QString("index.html") : path.mid(1);
    };
    switch (Published(check)) {
    case SitemapListsPages: {
        QStringList listed;
        for (const auto& match : loc.globalMatch(QString::fromUtf8(files.value("sitemap.xml")))) {
            QVERIFY2(match.captured(1).startsWith(publicRoot + "/"), qPrintable(match.captured(1)));
            listed.append(pathOf(match.captured(1)));
        }
        QStringList pages =
            files.keys().filter(QRegularExpression("^((index|about)\\.html|filefound/.*\\.html)$"));
        listed.sort();
        QCOMPARE(listed, pages);
        QVERIFY(pages.size() >= 4);
        QVERIFY(files.value("robots.txt").contains("Sitemap: " + publicRoot + "/sitemap.xml"));
        break;
    }
    case CanonicalResolves:
        for (auto file = files.cbegin(); file != files.cend(); ++file) {
            if (!isPage(file.key())) {
                continue;
            }
            const auto matches = canonical.globalMatch(QString::fromUtf8(file.value()));
            QVERIFY2(matches.hasNext(), qPrintable(file.key()));
            const QString target = pathOf(matches.peekNext().captured(1));
            QVERIFY2(files.contains(target) && isPage(target),
                     qPrintable(file.key() + " -> " + target));
            QVERIFY(!target.startsWith("soso/"));
            QVERIFY(file.value().contains("<meta name=\"description\" content=\""));
            QVERIFY(file.value().contains(
                "<link rel=\"search\" type=\"application/opensearchdescription+xml\" "
                "href=\"/opensearch.xml\""));
        }
        QVERIFY(files.value("opensearch.xml").contains(publicRoot + "/search?ext={searchTerms}"));
        break;
    case HashedAssetsExist: {
        int checked = 0;
        for (auto file = files.cbegin(); file != files.cend(); ++file) {
            if (!isPage(file.key())) {
                continue;
            }
            QVERIFY2(file.value().contains("href=\"/assets/style."), qPrintable(file.key()));
            for (const auto& match : asset.globalMatch(QString::fromUtf8(file.value()))) {
                const QString path = match.captured(1);
                QVERIFY2(files.contains(path), qPrintable(file.key() + " -> " + path));
                const QByteArray hash =
                    QCryptographicHash::hash(files.value(path), QCryptographicHash::Sha256).toHex();
                QCOMPARE(hashed.match(path).captured(1).toLatin1(), hash.left(16));
                ++checked;
            }
        }
        QVERIFY(checked > 10);
        break;
    }
    case CompressedAsThePage: {
        int checked = 0;
        for (auto file = files.cbegin(); file != files.cend(); ++file) {
            const QString plain = file.key().chopped(3);
            if (file.key().endsWith(".gz")) {
                QCOMPARE(gunzip(file.value()), files.value(plain));
            } else if (file.key().endsWith(".br")) {
                QCOMPARE(unbrotli(file.value()), files.value(plain));
            } else if (isPage(file.key()) || file.key().endsWith(".css")) {
                QVERIFY2(files.contains(file.key() + ".gz") && files.contains(file.key() + ".br"),
                         qPrintable(file.key()));
            }
            ++checked;
        }
        QVERIFY(checked > 10);
        break;
    }
    case SecondExportKeepsTimes: {
        const QMap<QString, qint64> before = timesOf(m_published);
        const Run run = exportSite(
            m_world.env,
            QStringList{"--export", m_published, "--public-root", publicRoot} + m_catalog);
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QVERIFY2(run.errors.contains("其中 0 个有变化"), run.errors.constData());
        QCOMPARE(timesOf(m_published), before);
        QCOMPARE(tree(m_published), files);
        break;
    }
    case RootRefused:
        for (const char* root : {"ftp://lookup.example.org/", "lookup.example.org", "https://"}) {
            const QString target = m_world.dir.filePath("refused");
            const Run run = exportSite(
                m_world.env, QStringList{"--export", target, "--public-root", root} + m_catalog);
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.errors.contains("--public-root 须是"), run.errors.constData());
            QVERIFY(!QFileInfo::exists(target));
        }
        QCOMPARE(exportSite(m_world.env, {"--public-root", publicRoot}).exitCode, 2);
        break;
    case UnpublishedSaysSo:
        QVERIFY2(m_unpublishedErrors.trimmed().endsWith(
                     "没有给出 --public-root，所以没有写 sitemap.xml、robots.txt 和 "
                     "opensearch.xml，页面中也没有绝对地址"),
                 m_unpublishedErrors.constData());
        QVERIFY(!QFileInfo::exists(m_export + "/sitemap.xml"));
        break;
    case SitemapSplit: {
        QList<QByteArray> pages;
        for (int i = 0; i <= publication::sitemapLimit; ++i) {
            pages.append("/filefound/" + QByteArray::number(i) + ".html");
        }
        const auto maps = publication::sitemaps(QUrl(publicRoot), pages);
        QCOMPARE(maps.size(), 3);
        QCOMPARE(maps[0].first, QByteArray("sitemap.xml"));
        QStringList listed;
        for (const auto& match : loc.globalMatch(QString::fromUtf8(maps[0].second))) {
            listed.append(match.captured(1));
        }
        QCOMPARE(listed, QStringList({publicRoot + "/sitemaps/sitemap-1.xml",
                                      publicRoot + "/sitemaps/sitemap-2.xml"}));
        QCOMPARE(maps[1].second.count("<loc>"), publication::sitemapLimit);
        QCOMPARE(maps[2].second.count("<loc>"), 1);
        QVERIFY(maps[2].second.contains("<loc>" + publicRoot + "/filefound/50000.html</loc>"));
        break;
    }
    case AboutPage: {
        const QMap<QString, QByteArray> unpublished = tree(m_export);
        for (const QMap<QString, QByteArray>* exported : {&files, &unpublished}) {
            const QByteArray about = exported->value("about.html");
            QVERIFY(about.contains("scripts/run.sh") && about.contains("cpack -G DEB"));
            QVERIFY(about.contains("资料日期："));
            for (const char* page : {"index.html", "filefound/qvxtest.html", "soso/qvxtest.htm"}) {
                QVERIFY2(exported->value(page).contains("<a href=\"/about.html\">关于本站</a>"),
                         page);
            }
        }
        QVERIFY(files.contains("about.html.gz"));
        break;
    }
    }
}

// Dropped into a stock Debian nginx beside its default site, the shipped
// file passes nginx -t without a warning.
void TestSiteExport::debianNginxTakesTheShippedFile() {
    const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"});
    if (nginx.isEmpty() || !QFileInfo::exists("/etc/nginx/sites-enabled/default")) {
        QSKIP("no stock Debian nginx here (nginx and /etc/nginx/sites-enabled/default)");
    }
    const QString etc = m_world.dir.filePath("debian-nginx");
    QProcess copy;
    copy.start("cp", {"-a", "/etc/nginx", etc});
    QVERIFY(copy.waitForFinished() && copy.exitCode() == 0);
    const auto moved = [&etc](QByteArray text) {
        return text.replace("/etc/nginx", etc.toUtf8());
    };
    QFile main(etc + "/nginx.conf");
    QVERIFY(main.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(etc + "/nginx.conf", moved(main.readAll())));
    QFile shipped(QUELVIX_SOURCE_DIR "/deploy/nginx.conf");
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(etc + "/sites-enabled/quelvix", moved(shipped.readAll())));
    QVERIFY(
        QFile::copy(QUELVIX_SOURCE_DIR "/deploy/quelvix-proxy.conf", etc + "/quelvix-proxy.conf"));
    QProcess test;
    test.setProcessChannelMode(QProcess::MergedChannels);
    // Debian's prefix, where its modules are found.
    test.start(nginx, {"-t", "-e", "stderr", "-p", "/usr/share/nginx/", "-c", etc + "/nginx.conf"});
    QVERIFY(test.waitForFinished(30000));
    const QByteArray said = test.readAll();
    QVERIFY2(test.exitCode() == 0, said.constData());
    QVERIFY2(!said.contains("[warn]") && !said.contains("[emerg]"), said.constData());
}

QTEST_GUILESS_MAIN(TestSiteExport)
#include "tst_site_export.moc"

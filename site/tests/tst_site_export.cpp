// The public site as static files, and nginx serving them as shipped.
#include "fixtures.h"
#include "siteprocess.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray errors;
};

Run exportSite(const QProcessEnvironment& env, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUELVIX_SITE_BINARY), arguments);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardError()};
}

// Every file under the directory with its content, by relative path.
QMap<QString, QByteArray> tree(const QString& directory) {
    QMap<QString, QByteArray> files;
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        files.insert(QDir(directory).relativeFilePath(file.fileName()), file.readAll());
    }
    return files;
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

private:
    TestWorld m_world;
    QString m_export;
    QStringList m_catalog;
};

void TestSiteExport::initTestCase() {
    QVERIFY(m_world.make(false));
    m_catalog = {"--catalog", m_world.catalog};
    m_export = m_world.dir.filePath("out/site");
    const Run run = exportSite(m_world.env, QStringList{"--export", m_export} + m_catalog);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY(run.errors.contains("exported"));
}

void TestSiteExport::exportIsCompleteAndReproducible() {
    const QMap<QString, QByteArray> first = tree(m_export);
    for (const char* name :
         {"index.html", "404.html", "style.css", "filefound/qvxtest.html", "soso/qvxtest.htm",
          "filefound/qvxt2.html", "soso/qvxt2.htm", "icons/catalog/org.example.Zh.png"}) {
        QVERIFY2(first.contains(name), name);
    }
    // Public pages leave this machine's programs out, and keep the catalog's.
    const QString page = QString::fromUtf8(first.value("soso/qvxtest.htm"));
    QVERIFY(!page.contains("本机已安装"));
    QVERIFY(page.contains("Installed Viewer"));
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
    QFile shipped(QUELVIX_SOURCE_DIR "/deploy/nginx.conf");
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QByteArray server = shipped.readAll();
    server.replace("listen 80;", "listen 127.0.0.1:" + QByteArray::number(port) + ";");
    server.replace("root /var/www/quelvix;", "root " + m_export.toUtf8() + ";");
    const QString conf = m_world.dir.filePath("nginx");
    QVERIFY(writeFile(conf + "/quelvix.conf", server));
    QVERIFY(writeFile(conf + "/nginx.conf", "worker_processes 1; pid " + conf.toUtf8() +
                                                "/nginx.pid; error_log stderr;\n"
                                                "events {}\nhttp { access_log off; include " +
                                                conf.toUtf8() + "/quelvix.conf; }\n"));
    // Its workers run as nobody.
    for (QString dir = m_export; dir.startsWith(QDir::tempPath() + "/");
         dir = QFileInfo(dir).path()) {
        QFile::setPermissions(dir, QFile::permissions(dir) | QFile::ReadOther | QFile::ExeOther);
    }
    QProcess nginxProcess;
    nginxProcess.start(nginx, {"-p", conf, "-c", conf + "/nginx.conf", "-g", "daemon off;"});
    QVERIFY(nginxProcess.waitForStarted());
    Site dynamic(m_world.env, QStringList{"--public"} + m_catalog);
    QVERIFY(dynamic.isUp());
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
    const Reply unknown = fromNginx("/soso/qqqzzz.htm");
    QCOMPARE(unknown.status, 404);
    QCOMPARE(unknown.body, QString::fromUtf8(tree(m_export).value("404.html")));
    const Reply icon = fromNginx("/icons/catalog/org.example.Zh.png");
    QVERIFY(icon.headers.contains("Content-Type: image/png"));
    QVERIFY(icon.headers.contains("Cache-Control: public, max-age=86400"));
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

QTEST_GUILESS_MAIN(TestSiteExport)
#include "tst_site_export.moc"

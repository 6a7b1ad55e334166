#include "fixtures.h"
#include "siteprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

class TestSite : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void routes_data();
    void routes();
    void malformedRequestsAreRefused_data();
    void malformedRequestsAreRefused();
    void manyRequestsAtOnce();
    void programsFromTheApplicationDatabase();
    void keptCatalogIsNeverFollowed_data();
    void keptCatalogIsNeverFollowed();
    void logTellsRefusalsOnlyWhenVerbose_data();
    void logTellsRefusalsOnlyWhenVerbose();

private:
    std::unique_ptr<Site> m_site;
};

void TestSite::initTestCase() {
    m_site = std::make_unique<Site>();
    QVERIFY(m_site->isUp());
}

void TestSite::routes_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("contains");
    QTest::addColumn<QStringList>("lacks");

    QTest::newRow("known type, compact")
        << QByteArray("/filefound/pdf.html") << 200
        << QStringList{"application/pdf", "PDF 文档", "<title>.pdf"} << QStringList{};
    QTest::newRow("letter case ignored") << QByteArray("/filefound/PDF.html") << 200
                                         << QStringList{"application/pdf"} << QStringList{};
    QTest::newRow("multi-dot") << QByteArray("/filefound/tar.gz.html") << 200
                               << QStringList{"application/x-compressed-tar"} << QStringList{};
    QTest::newRow("full page") << QByteArray("/soso/pdf.htm") << 200
                               << QStringList{"application/pdf", "扩展名", "别名", "父类型"}
                               << QStringList{};
    QTest::newRow("percent-decoded once") << QByteArray("/filefound/%70df.html") << 200
                                          << QStringList{"application/pdf"} << QStringList{};
    QTest::newRow("double-encoded stays encoded")
        << QByteArray("/filefound/%2570df.html") << 404 << QStringList{"%70df"} << QStringList{};
    QTest::newRow("unknown extension")
        << QByteArray("/filefound/qqqzzz.html") << 404
        << QStringList{"<title>没有找到扩展名 .qqqzzz 的资料</title>", "qqqzzz"} << QStringList{};
    QTest::newRow("unknown, full page")
        << QByteArray("/soso/qqqzzz.htm") << 404
        << QStringList{"<title>没有找到扩展名 .qqqzzz 的资料</title>"} << QStringList{};
    QTest::newRow("script escaped")
        << QByteArray("/filefound/%3Cscript%3Ealert(1)%3C%2Fscript%3E.html") << 404
        << QStringList{"&lt;script&gt;alert(1)&lt;/script&gt;"} << QStringList{"<script>"};
    QTest::newRow("quote escaped") << QByteArray("/filefound/a%22b'c.html") << 404
                                   << QStringList{"a&quot;b&#39;c"} << QStringList{"a\"b"};
    QTest::newRow("climbing path reaches no file")
        << QByteArray("/filefound/..%2F..%2F..%2Fetc%2Fpasswd.html") << 404
        << QStringList{"没有找到扩展名"} << QStringList{"root:"};
    QTest::newRow("slash is no extension")
        << QByteArray("/filefound/a%2Fb.pdf.html") << 404 << QStringList{} << QStringList{};
    QTest::newRow("invalid percent-encoding") << QByteArray("/filefound/%zz%4.html") << 404
                                              << QStringList{"没有找到扩展名"} << QStringList{};
    QTest::newRow("10 kB segment") << "/filefound/" + QByteArray(10240, 'a') + ".html" << 414
                                   << QStringList{} << QStringList{};
    // What the app sends for a file: its extension, its content's type and
    // the notices' kinds.
    QTest::newRow("file: Windows program named .pdf")
        << QByteArray("/filefound/pdf.html?type=application/x-ms-dos-executable&notice=program")
        << 200
        << QStringList{"<p class=\"notice\" role=\"alert\">⚠ 这是一个 Windows 程序，不是 PDF "
                       "文档。",
                       "<code>application/x-ms-dos-executable</code>", "本来表示",
                       "href=\"/filefound/pdf.html\""}
        << QStringList{"<code>application/pdf</code>"};
    QTest::newRow("plain page after a file's, not the file's")
        << QByteArray("/filefound/pdf.html") << 200 << QStringList{"application/pdf"}
        << QStringList{"notice", "x-ms-dos-executable"};
    QTest::newRow("file: a true PDF")
        << QByteArray("/filefound/pdf.html?type=application/pdf") << 200
        << QStringList{"这个文件是 <small>PDF 文档"} << QStringList{"notice", "本来表示"};
    QTest::newRow("file: no extension, reversed name, unknown kind dropped")
        << QByteArray("/filefound/.html?type=application/zip&notice=reversed,nonsense") << 200
        << QStringList{"改变文字方向", "没有扩展名", "application/zip"} << QStringList{"nonsense"};
    // Only a media type is a type: any other text would be the site's own
    // heading vouching for whoever wrote the link.
    QTest::newRow("file: markup as a type, dropped")
        << QByteArray("/filefound/pdf.html?type=%3Cscript%3E") << 200
        << QStringList{"application/pdf"} << QStringList{"<script>", "&lt;script&gt;", "这个文件"};
    QTest::newRow("file: words as a type, dropped")
        << "/filefound/exe.html?type=" +
               QByteArray("安全的 PDF 文档（已由 Quelvix 检查）…请在终端运行：curl x | sudo sh")
                   .toPercentEncoding()
        << 200 << QStringList{"exe"} << QStringList{"Quelvix 检查", "sudo sh", "这个文件"};
    QTest::newRow("file: words as a type beside a notice")
        << "/filefound/pdf.html?type=" + QByteArray("已检查 / 安全").toPercentEncoding() +
               "&notice=program"
        << 200 << QStringList{"notice"} << QStringList{"已检查", "安全"};
    QTest::newRow("file: a type with parameters, dropped")
        << QByteArray("/filefound/pdf.html?type=text/plain;%20note=%E5%B7%B2%E6%A3%80%E6%9F%A5")
        << 200 << QStringList{"application/pdf"} << QStringList{"已检查", "这个文件"};
    QTest::newRow("home") << QByteArray("/") << 200
                          << QStringList{"疑难解答", "没有找到扩展名", "无法显示该页"}
                          << QStringList{};
    QTest::newRow("no such page") << QByteArray("/filefound/") << 404 << QStringList{"网页未找到"}
                                  << QStringList{};
    // The buttons the app carries out, followed in a browser: said so, never done.
    QTest::newRow("action followed in a browser")
        << QByteArray("/action/default?program=qvx-viewer.desktop&type=application/pdf") << 404
        << QStringList{"这个按钮要在", "里点"} << QStringList{"网页未找到"};
    QTest::newRow("action that names nothing valid")
        << QByteArray("/action/install?package=%3Cx%3E") << 404 << QStringList{"这个按钮要在"}
        << QStringList{"<x>"};
    QTest::newRow("action folder itself")
        << QByteArray("/action") << 404 << QStringList{"这个按钮要在"} << QStringList{};
}

void TestSite::routes() {
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QStringList, contains);
    QFETCH(QStringList, lacks);

    const Reply reply = m_site->get(target);
    QCOMPARE(reply.status, status);
    if (status == 200 || !contains.isEmpty()) {
        QVERIFY(reply.headers.contains("text/html; charset=utf-8"));
    }
    for (const QString& text : contains) {
        QVERIFY2(reply.body.contains(text), qPrintable(text));
    }
    for (const QString& text : lacks) {
        QVERIFY2(!reply.body.contains(text), qPrintable(text));
    }
}

void TestSite::malformedRequestsAreRefused_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("garbage") << QByteArray("GARBAGE\r\n\r\n");
    QTest::newRow("no version") << QByteArray("GET /\r\n\r\n");
    QTest::newRow("huge header") << "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX: " +
                                        QByteArray(20000, 'x') + "\r\n\r\n";
    QTest::newRow("oversized body")
        << QByteArray("POST /filefound/pdf.html HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n");
}

void TestSite::malformedRequestsAreRefused() {
    QFETCH(QByteArray, request);
    const Reply reply = m_site->raw(request);
    QVERIFY2(reply.status == 0 || (reply.status >= 400 && reply.status < 500),
             qPrintable(QString::number(reply.status)));
    // The server is still there.
    QCOMPARE(m_site->get("/filefound/pdf.html").status, 200);
}

void TestSite::manyRequestsAtOnce() {
    constexpr int count = 40;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QHostAddress::LocalHost, m_site->port());
    }
    for (auto& socket : sockets) {
        QVERIFY(socket->waitForConnected(10000));
        socket->write("GET /filefound/png.html HTTP/1.1\r\nHost: " + m_site->host() +
                      "\r\nConnection: close\r\n\r\n");
    }
    int ok = 0;
    for (auto& socket : sockets) {
        QByteArray all;
        while (socket->state() == QAbstractSocket::ConnectedState &&
               socket->waitForReadyRead(20000)) {
            all += socket->readAll();
        }
        all += socket->readAll();
        ok += all.startsWith("HTTP/1.1 200") && all.contains("image/png") ? 1 : 0;
    }
    QCOMPARE(ok, count);
}

void TestSite::programsFromTheApplicationDatabase() {
    QTemporaryDir dir;
    const QString share = dir.filePath("share");
    QVERIFY(
        writeFile(share + "/mime/packages/quelvix-test.xml",
                  "<?xml version=\"1.0\"?>\n"
                  "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">"
                  "<mime-type type=\"application/x-quelvix-test\"><comment>Quelvix test</comment>"
                  "<comment xml:lang=\"zh_CN\">奎尔测试文件</comment>"
                  "<glob pattern=\"*.qvxtest\"/></mime-type></mime-info>\n"));
    QCOMPARE(QProcess::execute("update-mime-database", {share + "/mime"}), 0);
    const QByteArray entry = "[Desktop Entry]\nType=Application\nExec=true %f\n"
                             "MimeType=application/x-quelvix-test;\n";
    QVERIFY(writeFile(share + "/applications/qvx-viewer.desktop",
                      entry + "Name=Test Viewer\nName[zh_CN]=测试查看器\n"));
    QVERIFY(writeFile(share + "/applications/qvx-editor.desktop",
                      entry + "Name=Test Editor\nName[zh_CN]=测试编辑器\n"));
    // The app itself takes every file, to tell what it is; it opens none.
    QVERIFY(writeFile(share + "/applications/net.zorv.Quelvix.desktop",
                      entry + "Name=Self\nName[zh_CN]=查询此文件是什么的工具\n"));
    // As a package manager does after installing desktop entries.
    QCOMPARE(QProcess::execute("update-desktop-database", {share + "/applications"}), 0);
    QVERIFY(writeFile(dir.filePath("config/mimeapps.list"),
                      "[Default Applications]\napplication/x-quelvix-test=qvx-viewer.desktop\n"));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_DIRS", share + ":/usr/share");
    env.insert("XDG_DATA_HOME", dir.filePath("home"));
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("etc"));
    Site site(env);
    QVERIFY(site.isUp());

    const Reply reply = site.get("/soso/QVXTEST.htm");
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("application/x-quelvix-test"));
    QVERIFY(reply.body.contains("奎尔测试文件"));
    const qsizetype editor = reply.body.indexOf("测试编辑器");
    const qsizetype viewer = reply.body.indexOf("测试查看器");
    QVERIFY2(editor >= 0 && viewer >= 0, qPrintable(reply.body));
    // The default comes first although its name sorts last.
    QVERIFY2(viewer < editor, "the default program comes first");
    QVERIFY(reply.body.contains("测试查看器 <span class=\"tag\">当前默认</span>"));
    QVERIFY(!reply.body.contains("测试编辑器 <span class=\"tag\">当前默认</span>"));
    QVERIFY2(!reply.body.contains("查询此文件是什么的工具"), "the app never recommends itself");

    // Installed while the site runs: it appears on the next request.
    QVERIFY(writeFile(share + "/applications/qvx-player.desktop",
                      entry + "Name=Test Player\nName[zh_CN]=测试播放器\n"));
    QCOMPARE(QProcess::execute("update-desktop-database", {share + "/applications"}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(site.get("/filefound/qvxtest.html").body.contains("测试播放器"),
                             20000);
}

void TestSite::keptCatalogIsNeverFollowed_data() {
    QTest::addColumn<bool>("fifo");
    QTest::newRow("a link to a file of the user's") << false;
    QTest::newRow("a FIFO") << true;
}

// What the site keeps of the catalog's reading lives in the user's cache
// folder, where anything may stand in its place: a link is never written
// through, a FIFO never waited on; either is replaced by the site's own file.
void TestSite::keptCatalogIsNeverFollowed() {
    QFETCH(bool, fifo);
    TestWorld world;
    QVERIFY(world.make(false));
    const QStringList arguments{"--catalog", world.catalog};
    QString kept;
    {
        Site first(world.env, arguments);
        QVERIFY(first.isUp());
        QCOMPARE(first.get("/filefound/qvxtest.html").status, 200);
        const QDir folder(world.dir.filePath("cache/quelvix-site"));
        QTRY_VERIFY(!folder.entryList({"catalog-*"}, QDir::Files).isEmpty());
        kept = folder.filePath(folder.entryList({"catalog-*"}, QDir::Files).first());
    }
    QVERIFY(QFile::remove(kept));
    const QString usersFile = world.dir.filePath("mine.txt");
    QVERIFY(writeFile(usersFile, "the user's own words\n"));
    QVERIFY(fifo ? ::mkfifo(QFile::encodeName(kept).constData(), 0600) == 0
                 : QFile::link(usersFile, kept));

    Site second(world.env, arguments);
    QVERIFY(second.isUp());
    const Reply reply = second.get("/filefound/qvxtest.html");
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("中文阅读器"));
    QTRY_VERIFY(QFileInfo(kept).isFile() && !QFileInfo(kept).isSymLink());
    QFile mine(usersFile);
    QVERIFY(mine.open(QIODevice::ReadOnly));
    QCOMPARE(mine.readAll(), QByteArray("the user's own words\n"));
}

void TestSite::logTellsRefusalsOnlyWhenVerbose_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("refusalLogged");
    QTest::newRow("default") << QStringList{} << false;
    QTest::newRow("verbose") << QStringList{"--verbose"} << true;
}

// A request turned away is one line, and only when asked for; a Host that
// tries to end the line or colour the terminal is logged defused.
void TestSite::logTellsRefusalsOnlyWhenVerbose() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, refusalLogged);
    Site site(QProcessEnvironment::systemEnvironment(), arguments);
    QVERIFY(site.isUp());
    QCOMPARE(site.raw("GET /filefound/pdf.html HTTP/1.1\r\nHost: evil.example\x1b[31m\r\n"
                      "Connection: close\r\n\r\n")
                 .status,
             421);
    QCOMPARE(site.get("/filefound/pdf.html").status, 200);
    const QByteArray log = site.stop();
    QVERIFY2(log.contains("quelvix-site: quelvix.site.main: 已启动：版本 "), log.constData());
    QCOMPARE(log.contains("quelvix-site: quelvix.site.http: 拒绝 421（Host 不是本站）：GET "
                          "/filefound/pdf.html，Host: evil.example?[31m\n"),
             refusalLogged);
    QVERIFY(!log.contains('\x1b'));
    QVERIFY2(!log.contains("pdf.html") || refusalLogged, log.constData());
}

QTEST_GUILESS_MAIN(TestSite)
#include "tst_site.moc"

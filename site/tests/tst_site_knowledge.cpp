// What the pages know: the software catalog, icons, forgiving input, and
// keeping up with the databases while the site runs.
#include "siteprocess.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray component(const QByteArray& id, const QByteArray& name, const QByteArray& type,
                     const QByteArray& extra = {}) {
    // "C name|Chinese name" gives both.
    const QByteArrayList names = name.split('|');
    QByteArray nameLines = "  C: " + names.first() + "\n";
    if (names.size() > 1) {
        nameLines += "  zh_CN: " + names.last() + "\n";
    }
    return "---\nType: desktop-application\nID: " + id + "\nPackage: " + id.toLower() +
           "\nName:\n" + nameLines + "Summary:\n  C: Opens test files\n" + extra +
           "Provides:\n  mediatypes:\n    - " + type + "\n";
}

// A catalog laid out as the system's: the test type, a program only for its
// parent, one already installed, a hostile name, a Chinese one with an icon.
QByteArray testCatalog() {
    QByteArray yaml = "---\nFile: DEP-11\nVersion: '0.16'\nOrigin: quelvix-test\n";
    for (const char* letter : {"B", "C", "D", "E", "F"}) {
        yaml += component(QByteArray("org.example.") + letter, QByteArray("Program ") + letter,
                          "application/x-quelvix-test");
    }
    yaml += component("org.example.A", "'<script>alert(1)</script>'", "application/x-quelvix-test");
    yaml += component("org.example.Zh", "Zh|中文阅读器", "application/x-quelvix-test",
                      "Icon:\n  cached:\n    - name: zh.png\n      width: 48\n"
                      "      height: 48\n");
    yaml += component("org.example.Parent", "Aaa Plain Editor", "text/plain");
    // Installed under the desktop id the test's application database has.
    yaml += component("org.example.Viewer", "Installed Viewer", "application/x-quelvix-test",
                      "Launchable:\n  desktop-id:\n    - qvx-viewer.desktop\n");
    return yaml;
}

} // namespace

class TestSiteKnowledge : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void installablePrograms();
    void catalogIcon();
    void catalogMissing();
    void forgivingInput_data();
    void forgivingInput();
    void iconRoutesStayInside_data();
    void iconRoutesStayInside();
    void mimeDatabaseChangeShows();
    void machineCatalogKnowsDocx();

private:
    QTemporaryDir m_dir;
    QString m_share;
    QProcessEnvironment m_env;
    std::unique_ptr<Site> m_site;
};

void TestSiteKnowledge::initTestCase() {
    m_share = m_dir.filePath("share");
    QVERIFY(
        writeFile(m_share + "/mime/packages/quelvix-test.xml",
                  "<?xml version=\"1.0\"?>\n"
                  "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">"
                  "<mime-type type=\"application/x-quelvix-test\"><comment>Quelvix test</comment>"
                  "<sub-class-of type=\"text/plain\"/><glob pattern=\"*.qvxtest\"/></mime-type>"
                  "</mime-info>\n"));
    QCOMPARE(QProcess::execute("update-mime-database", {m_share + "/mime"}), 0);
    QVERIFY(writeFile(m_share + "/applications/qvx-viewer.desktop",
                      "[Desktop Entry]\nType=Application\nExec=true %f\nName=Viewer\n"
                      "MimeType=application/x-quelvix-test;\n"));
    QCOMPARE(QProcess::execute("update-desktop-database", {m_share + "/applications"}), 0);
    QVERIFY(writeFile(m_dir.filePath("catalog/yaml/quelvix-test.yml"), testCatalog()));
    QImage icon(48, 48, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    QDir().mkpath(m_dir.filePath("catalog/icons/quelvix-test/48x48"));
    QVERIFY(icon.save(m_dir.filePath("catalog/icons/quelvix-test/48x48/zh.png")));

    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert("XDG_DATA_DIRS", m_share + ":/usr/share");
    m_env.insert("XDG_DATA_HOME", m_dir.filePath("home"));
    m_env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
    m_env.insert("XDG_CACHE_HOME", m_dir.filePath("cache"));
    m_site = std::make_unique<Site>(m_env, QStringList{"--catalog", m_dir.filePath("catalog")});
    QVERIFY(m_site->isUp());
}

void TestSiteKnowledge::installablePrograms() {
    const Reply full = m_site->get("/soso/qvxtest.htm");
    QCOMPARE(full.status, 200);
    // Exact ones by name, the hostile name among them as text, then the
    // parent's program although its name sorts first; the installed one never.
    // (Chinese collation puts Han names before Latin ones.)
    const QStringList order = {"&lt;script&gt;alert(1)&lt;/script&gt;",
                               "中文阅读器",
                               "Program B",
                               "Program C",
                               "Program D",
                               "Program E",
                               "Program F",
                               "Aaa Plain Editor"};
    QStringList shown;
    static const QRegularExpression name("<strong>([^<]*)</strong>");
    for (const QRegularExpressionMatch& match : name.globalMatch(full.body)) {
        shown << match.captured(1);
    }
    QCOMPARE(shown, order);
    QVERIFY(!full.body.contains("<script>"));
    QVERIFY(!full.body.contains("Installed Viewer"));
    QVERIFY(full.body.contains("href=\"appstream://org.example.Zh\""));
    QVERIFY(full.body.contains("<code class=\"cmd\">sudo apt install org.example.zh</code>"));
    QVERIFY(!full.body.contains("未列出"));

    const Reply compact = m_site->get("/filefound/qvxtest.html");
    QCOMPARE(compact.status, 200);
    QCOMPARE(compact.body.count("sudo apt install"), 5);
    QVERIFY(compact.body.contains("另有 3 款未列出"));
}

void TestSiteKnowledge::catalogIcon() {
    const Reply page = m_site->get("/soso/qvxtest.htm");
    static const QRegularExpression icon("src=\"(/icons/catalog/[^\"]+)\"");
    const QRegularExpressionMatch match = icon.match(page.body);
    QVERIFY(match.hasMatch());
    QCOMPARE(match.captured(1), "/icons/catalog/org.example.Zh.png");
    QVERIFY(!page.body.contains(m_dir.path()));
    const Reply image = m_site->get(match.captured(1).toLatin1());
    QCOMPARE(image.status, 200);
    QVERIFY(image.headers.contains("Content-Type: image/png"));
    QVERIFY(image.headers.contains("Cache-Control: public"));
}

void TestSiteKnowledge::catalogMissing() {
    Site site(m_env, {"--catalog", m_dir.filePath("no-such-catalog")});
    QVERIFY(site.isUp());
    const Reply reply = site.get("/soso/qvxtest.htm");
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("Viewer"));
    QCOMPARE(reply.body.count("没有软件目录（AppStream）"), 1);
    QVERIFY(!reply.body.contains("sudo apt install org"));
}

void TestSiteKnowledge::forgivingInput_data() {
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QString>("heading");
    QTest::newRow("blanks around") << QByteArray("%20pdf%20") << ".pdf";
    QTest::newRow("ideographic blank") << QByteArray("%E3%80%80pdf") << ".pdf";
    QTest::newRow("leading dot") << QByteArray(".pdf") << ".pdf";
    QTest::newRow("leading dots, upper case") << QByteArray("..PDF") << ".pdf";
    QTest::newRow("file name") << QByteArray("report.docx") << ".docx";
    QTest::newRow("file name, dotted") << QByteArray("my.report.v2.pdf") << ".pdf";
    QTest::newRow("two-part extension") << QByteArray("Archive.TAR.GZ") << ".tar.gz";
}

void TestSiteKnowledge::forgivingInput() {
    QFETCH(QByteArray, typed);
    QFETCH(QString, heading);
    const Reply reply = m_site->get("/filefound/" + typed + ".html");
    QCOMPARE(reply.status, 200);
    static const QRegularExpression h1("<h1>(?:<img[^>]*>)?([^<]*) <small>");
    QCOMPARE(h1.match(reply.body).captured(1), heading);
    QCOMPARE(reply.body.count("<h1>"), 1);
}

void TestSiteKnowledge::iconRoutesStayInside_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("climbing") << QByteArray("/icons/type/../../../etc/passwd.png");
    QTest::newRow("climbing, encoded") << QByteArray("/icons/type/..%2F..%2Fetc%2Fpasswd.png");
    QTest::newRow("absolute") << QByteArray("/icons/type//etc/passwd.png");
    QTest::newRow("absolute, encoded") << QByteArray("/icons/catalog/%2Fetc%2Fpasswd.png");
    QTest::newRow("dot name") << QByteArray("/icons/program/..png");
    QTest::newRow("other suffix") << QByteArray("/icons/type/text-x-generic.svgz");
    QTest::newRow("unknown kind") << QByteArray("/icons/file/passwd.png");
}

void TestSiteKnowledge::iconRoutesStayInside() {
    QFETCH(QByteArray, target);
    const Reply reply = m_site->get(target);
    QCOMPARE(reply.status, 404);
    QVERIFY(!reply.body.contains("root:"));
}

// A type installed while the site runs shows once the database has settled,
// although the unknown extension's page was asked for (and kept) before.
void TestSiteKnowledge::mimeDatabaseChangeShows() {
    QCOMPARE(m_site->get("/filefound/qvxnew.html").status, 404);
    QVERIFY(writeFile(m_share + "/mime/packages/quelvix-new.xml",
                      "<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop.org/"
                      "standards/shared-mime-info\"><mime-type type=\"application/x-quelvix-new\">"
                      "<comment>New test</comment><glob pattern=\"*.qvxnew\"/></mime-type>"
                      "</mime-info>\n"));
    QCOMPARE(QProcess::execute("update-mime-database", {m_share + "/mime"}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_site->get("/filefound/qvxnew.html").status, 200, 20000);
    // And it stays: what was built while the database settled was not kept.
    QTest::qWait(6000);
    QCOMPARE(m_site->get("/filefound/qvxnew.html").status, 200);
}

// The install step provides the distribution's catalog.
void TestSiteKnowledge::machineCatalogKnowsDocx() {
    Site site;
    QVERIFY(site.isUp());
    const Reply reply = site.get("/soso/docx.htm");
    QCOMPARE(reply.status, 200);
    QVERIFY2(reply.body.contains("sudo apt install "), "no installable program for docx");
}

QTEST_GUILESS_MAIN(TestSiteKnowledge)
#include "tst_site_knowledge.moc"

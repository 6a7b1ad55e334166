// What the pages know: the software catalog, icons, forgiving input, and
// keeping up with the databases while the site runs.
#include "fixtures.h"
#include "siteprocess.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestSiteKnowledge : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void installablePrograms();
    void catalogIcon();
    void catalogMissing();
    void catalogKeptAcrossStarts_data();
    void catalogKeptAcrossStarts();
    void forgivingInput_data();
    void forgivingInput();
    void iconRoutesStayInside_data();
    void iconRoutesStayInside();
    void mimeDatabaseChangeShows();
    void machineCatalogKnowsDocx();

private:
    TestWorld m_world;
    std::unique_ptr<Site> m_site;
};

void TestSiteKnowledge::initTestCase() {
    QVERIFY(m_world.make(true));
    m_site = std::make_unique<Site>(m_world.env, QStringList{"--catalog", m_world.catalog});
    QVERIFY(m_site->isUp());
}

void TestSiteKnowledge::installablePrograms() {
    const Reply full = m_site->get("/soso/qvxtest.htm");
    QCOMPARE(full.status, 200);
    // Exact ones by name, the hostile name among them as text, then the
    // program for plain text, which the format is a kind of, although its
    // name sorts first; the installed one never.
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
    // Nobody chose a program for the type: GIO's first is not the default.
    QVERIFY(full.body.contains("<p>Viewer</p>"));
    QVERIFY(!full.body.contains("<span class=\"tag\">默认</span>"));
    // This machine's page offers its 安装 button, no software centre's link.
    QVERIFY(full.body.contains("title=\"把中文阅读器安装到本机\">安装</a>"));
    QVERIFY(!full.body.contains("appstream://"));
    QVERIFY(full.body.contains("<code class=\"cmd\">sudo apt install org.example.zh</code>"));
    QVERIFY(!full.body.contains("未列出"));

    const Reply compact = m_site->get("/filefound/qvxtest.html");
    QCOMPARE(compact.status, 200);
    QCOMPARE(compact.body.count("sudo apt install"), 5);
    // The program for plain text counts among the format's, after them.
    QVERIFY(compact.body.contains("另有 3 款未列出"));
    QVERIFY(!compact.body.contains("Aaa Plain Editor"));
}

void TestSiteKnowledge::catalogIcon() {
    const Reply page = m_site->get("/soso/qvxtest.htm");
    static const QRegularExpression icon("src=\"(/icons/catalog/[^\"]+)\"");
    const QRegularExpressionMatch match = icon.match(page.body);
    QVERIFY(match.hasMatch());
    QCOMPARE(match.captured(1), "/icons/catalog/org.example.Zh.png");
    QVERIFY(!page.body.contains(m_world.dir.path()));
    const Reply image = m_site->get(match.captured(1).toLatin1());
    QCOMPARE(image.status, 200);
    QVERIFY(image.headers.contains("Content-Type: image/png"));
    QVERIFY(image.headers.contains("Cache-Control: public"));
}

void TestSiteKnowledge::catalogMissing() {
    Site site(m_world.env, {"--catalog", m_world.dir.filePath("no-such-catalog")});
    QVERIFY(site.isUp());
    const Reply reply = site.get("/soso/qvxtest.htm");
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.contains("Viewer"));
    QCOMPARE(reply.body.count("没有软件目录（AppStream）"), 1);
    QVERIFY(!reply.body.contains("sudo apt install org"));
}

// What the catalog's reading gave is kept for the next start, and used only
// while it is sound and the catalog is as it was.
void TestSiteKnowledge::catalogKeptAcrossStarts_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("keptUsed");
    QTest::newRow("nothing changed") << "none" << true;
    QTest::newRow("kept file damaged") << "damage" << false;
    QTest::newRow("kept file cut short") << "cut" << false;
    QTest::newRow("catalog changed since") << "catalog" << false;
    // The programs' types are sorted into families by the MIME database.
    QTest::newRow("types changed since") << "types" << false;
}

void TestSiteKnowledge::catalogKeptAcrossStarts() {
    QFETCH(QString, change);
    QFETCH(bool, keptUsed);
    TestWorld world;
    QVERIFY(world.make(true));
    const QStringList arguments{"--catalog", world.catalog};
    const QByteArray usedLine = "取自上次的读出结果";
    {
        Site first(world.env, arguments);
        QVERIFY(first.isUp());
        QCOMPARE(first.get("/soso/qvxtest.htm").status, 200);
        QVERIFY(!first.stop().contains(usedLine));
    }
    const QDir keptDir(world.dir.filePath("cache/quelvix-site"));
    const QStringList kept = keptDir.entryList(QDir::Files);
    QCOMPARE(kept.size(), 1);
    QFile file(keptDir.filePath(kept.first()));
    if (change == "damage") {
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(file.size() / 2));
        QVERIFY(file.write(QByteArray(64, '\xff')) == 64);
        file.close();
    } else if (change == "cut") {
        QVERIFY(file.resize(file.size() / 2));
    } else if (change == "catalog") {
        QVERIFY(writeFile(world.catalog + "/yaml/quelvix-test.yml",
                          testCatalog() + component("org.example.New", "Newcomer",
                                                    "application/x-quelvix-test")));
    } else if (change == "types") {
        QVERIFY(world.addType("quelvix-extra", "Extra test", "*.qvxextra"));
    }
    Site second(world.env, arguments);
    QVERIFY(second.isUp());
    const Reply page = second.get("/soso/qvxtest.htm");
    QCOMPARE(page.status, 200);
    QVERIFY(page.body.contains("中文阅读器"));
    QCOMPARE(second.stop().contains(usedLine), keptUsed);
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
    const qsizetype logged = m_site->log().size();
    QVERIFY(m_world.addType("quelvix-new", "New test", "*.qvxnew"));
    QTRY_COMPARE_WITH_TIMEOUT(m_site->get("/filefound/qvxnew.html").status, 200, 20000);
    // And it stays: what was built while the database settled was not kept.
    const QByteArray settled =
        "quelvix-site: quelvix.site.cache: 已丢弃缓存的页面：MIME 数据库已稳定";
    QTRY_VERIFY2_WITH_TIMEOUT(m_site->log().indexOf(settled, logged) >= 0,
                              m_site->log().constData(), 20000);
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

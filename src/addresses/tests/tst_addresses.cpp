#include "addresses.h"

#include <QTest>

using addresses::Page;

class TestAddresses : public QObject {
    Q_OBJECT

private slots:
    void pagesComeBackFromTheirPaths_data();
    void pagesComeBackFromTheirPaths();
    void otherPathsAreNoPage_data();
    void otherPathsAreNoPage();
    void portsFollowTheScheme_data();
    void portsFollowTheScheme();
    void loopbackAddresses_data();
    void loopbackAddresses();
    void hostsOfTheSite_data();
    void hostsOfTheSite();
    void actionsComeBackOrNot_data();
    void actionsComeBackOrNot();
    void requestsAreReadOnce_data();
    void requestsAreReadOnce();
};

void TestAddresses::pagesComeBackFromTheirPaths_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("extension");
    QTest::newRow("lookup") << int(Page::Lookup) << QStringLiteral("pdf");
    QTest::newRow("search") << int(Page::Search) << QStringLiteral("tar.gz");
    QTest::newRow("chinese") << int(Page::Search) << QStringLiteral("文档");
    QTest::newRow("separators") << int(Page::Lookup) << QStringLiteral("a/b?c#d%20.html");
    QTest::newRow("empty") << int(Page::Lookup) << QString();
}

// What the app and the exporter address is what the site reads back.
void TestAddresses::pagesComeBackFromTheirPaths() {
    QFETCH(int, page);
    QFETCH(QString, extension);
    const QString path = addresses::pagePath(Page(page), extension);
    const QUrl address = addresses::under(QStringLiteral("http://127.0.0.1:27380"), path);
    QVERIFY(address.isValid());
    QCOMPARE(address.path(QUrl::FullyEncoded), path);
    const std::optional<addresses::PageRequest> read = addresses::pageOf(path.toLatin1());
    QVERIFY(read);
    QCOMPARE(int(read->page), page);
    QCOMPARE(read->extension, extension);
}

void TestAddresses::otherPathsAreNoPage_data() {
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("root") << QByteArray("/");
    QTest::newRow("suffixes swapped") << QByteArray("/filefound/pdf.htm");
    QTest::newRow("search's suffix swapped") << QByteArray("/soso/pdf.html");
    QTest::newRow("no directory") << QByteArray("/pdf.html");
    QTest::newRow("directory only") << QByteArray("/filefound/");
    QTest::newRow("relative") << QByteArray("filefound/pdf.html");
}

void TestAddresses::otherPathsAreNoPage() {
    QFETCH(QByteArray, path);
    QVERIFY(!addresses::pageOf(path));
}

void TestAddresses::portsFollowTheScheme_data() {
    QTest::addColumn<QUrl>("address");
    QTest::addColumn<int>("port");
    QTest::newRow("http") << QUrl("http://127.0.0.1/") << 80;
    QTest::newRow("https") << QUrl("https://lookup.example.org/") << 443;
    QTest::newRow("named port") << QUrl("http://127.0.0.1:27380/") << 27380;
    QTest::newRow("https named port") << QUrl("https://lookup.example.org:8443/") << 8443;
}

void TestAddresses::portsFollowTheScheme() {
    QFETCH(QUrl, address);
    QFETCH(int, port);
    QCOMPARE(int(addresses::portOf(address)), port);
}

void TestAddresses::loopbackAddresses_data() {
    QTest::addColumn<QUrl>("address");
    QTest::addColumn<bool>("loopback");
    QTest::newRow("127.0.0.1") << QUrl("http://127.0.0.1:1/") << true;
    QTest::newRow("127.1.2.3") << QUrl("http://127.1.2.3:1/") << true;
    QTest::newRow("short 127.1") << QUrl("http://127.1/") << true;
    QTest::newRow("localhost") << QUrl("http://localhost:1/") << true;
    QTest::newRow("::1") << QUrl("http://[::1]:1/") << true;
    QTest::newRow("::1 written out") << QUrl("http://[0:0:0:0:0:0:0:1]/") << true;
    QTest::newRow("IPv4-mapped") << QUrl("http://[::ffff:127.0.0.1]/") << true;
    QTest::newRow("other host") << QUrl("https://lookup.example.org/") << false;
    QTest::newRow("private address") << QUrl("http://192.168.1.1/") << false;
    QTest::newRow("IPv4-mapped private") << QUrl("http://[::ffff:192.168.1.1]/") << false;
    QTest::newRow("loopback-looking name") << QUrl("http://127.0.0.1.example.org/") << false;
    QTest::newRow("localhost-looking name") << QUrl("http://localhost.example.org/") << false;
    QTest::newRow("other IPv6") << QUrl("http://[::2]/") << false;
}

void TestAddresses::loopbackAddresses() {
    QFETCH(QUrl, address);
    QFETCH(bool, loopback);
    QCOMPARE(addresses::isLoopback(address), loopback);
}

void TestAddresses::hostsOfTheSite_data() {
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("own");
    QTest::newRow("address and port") << QByteArray("127.0.0.1:27380") << 27380 << true;
    QTest::newRow("name in capitals") << QByteArray("LOCALHOST:27380") << 27380 << true;
    QTest::newRow("IPv6") << QByteArray("[::1]:27380") << 27380 << true;
    QTest::newRow("other port") << QByteArray("127.0.0.1:27381") << 27380 << false;
    QTest::newRow("no port, not 80") << QByteArray("127.0.0.1") << 27380 << false;
    QTest::newRow("no port on 80") << QByteArray("localhost") << 80 << true;
    QTest::newRow("no port is not 443") << QByteArray("127.0.0.1") << 443 << false;
    QTest::newRow("rebound name") << QByteArray("attacker.example:27380") << 27380 << false;
    QTest::newRow("empty") << QByteArray() << 80 << false;
}

void TestAddresses::hostsOfTheSite() {
    QFETCH(QByteArray, host);
    QFETCH(int, port);
    QFETCH(bool, own);
    QCOMPARE(addresses::isLoopbackHost(host, quint16(port)), own);
}

void TestAddresses::actionsComeBackOrNot_data() {
    QTest::addColumn<QString>("pathAndQuery");
    QTest::addColumn<bool>("isAction");
    const auto row = [](const char* name, const char* path, bool isAction) {
        QTest::newRow(name) << QString::fromUtf8(path) << isAction;
    };
    row("open", "/action/open?program=org.gnome.Evince.desktop", true);
    row("default", "/action/default?program=writer.desktop&type=application/vnd.ms-works", true);
    row("install", "/action/install?package=libreoffice-writer&component=org.libreoffice.Writer",
        true);
    row("install without component", "/action/install?package=p7zip-full", true);
    row("a path rides along", "/action/open?program=../../bin/sh.desktop", false);
    row("not a desktop file", "/action/open?program=evince", false);
    row("a stray field", "/action/open?program=a.desktop&file=/etc/passwd", false);
    row("a field twice", "/action/open?program=a.desktop&program=b.desktop", false);
    row("an option for apt", "/action/install?package=-oDebug::pkgProblemResolver=1", false);
    row("a type with words", "/action/default?program=a.desktop&type=%E5%AE%89%E5%85%A8/pdf",
        false);
    row("unknown action", "/action/remove?package=bash", false);
    row("folder only", "/action/", false);
}

// A link on a page can ask for nothing the app would not do on its own, and
// what the site writes the app reads back whole.
void TestAddresses::actionsComeBackOrNot() {
    QFETCH(QString, pathAndQuery);
    QFETCH(bool, isAction);
    const QUrl address = addresses::under(QStringLiteral("http://127.0.0.1:27380"), pathAndQuery);
    QVERIFY(addresses::isActionPath(address.path()));
    const std::optional<addresses::ActionRequest> read = addresses::actionOf(address);
    QCOMPARE(bool(read), isAction);
    if (read) {
        QCOMPARE(addresses::actionPath(*read), pathAndQuery);
    }
}

void TestAddresses::requestsAreReadOnce_data() {
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fileType");
    QTest::addColumn<QStringList>("notices");
    using addresses::Asked;
    const auto row = [](const char* name, const char* path, const char* query, Asked asked,
                        const QString& text, const QString& type = {},
                        const QStringList& notices = {}) {
        QTest::newRow(name) << QByteArray(path) << QByteArray(query) << int(asked) << text << type
                            << notices;
    };
    row("home", "/", "", Asked::Home, {});
    row("style", "/style.css", "", Asked::Style, {});
    row("about", "/about.html", "", Asked::About, {});
    row("icon", "/icons/program/a.png", "", Asked::Icon, {});
    row("action", "/action/open", "program=a.desktop", Asked::Action, {});
    row("search box, blanks as plus", "/search", "ext=tar+gz%E6%96%87", Asked::SearchBox,
        QStringLiteral("tar gz文"));
    row("lookup decoded once", "/filefound/%2525.html", "", Asked::Lookup, QStringLiteral("%25"));
    row("full page", "/soso/PDF.htm", "", Asked::Lookup, QStringLiteral("PDF"));
    row("no extension is no page", "/filefound/.html", "", Asked::Other, {});
    row("a file without an extension", "/filefound/.html", "type=application%2Fpdf", Asked::Lookup,
        {}, QStringLiteral("application/pdf"));
    row("a file's notices once each", "/filefound/pdf.html", "notice=program,program,link",
        Asked::Lookup, QStringLiteral("pdf"), {},
        {QStringLiteral("program"), QStringLiteral("link")});
    row("words as a type are dropped", "/filefound/exe.html",
        "type=%E5%AE%89%E5%85%A8%E7%9A%84%20PDF", Asked::Lookup, QStringLiteral("exe"));
    row("a full page takes no file", "/soso/exe.htm", "type=application%2Fpdf", Asked::Lookup,
        QStringLiteral("exe"));
    row("anything else", "/etc/passwd", "", Asked::Other, {});
}

// The site reads a request once; what it takes is all any page may show.
void TestAddresses::requestsAreReadOnce() {
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, query);
    QFETCH(int, asked);
    QFETCH(QString, text);
    QFETCH(QString, fileType);
    QFETCH(QStringList, notices);
    QList<addresses::QueryField> fields;
    for (const QByteArray& field : query.split('&')) {
        if (!field.isEmpty()) {
            const qsizetype equals = field.indexOf('=');
            fields.append({field.first(equals), field.sliced(equals + 1)});
        }
    }
    const addresses::SiteRequest read = addresses::siteRequestOf(path, fields);
    QCOMPARE(int(read.asked), asked);
    QCOMPARE(read.text, text);
    QCOMPARE(read.fileType, fileType);
    QCOMPARE(read.notices, notices);
}

QTEST_GUILESS_MAIN(TestAddresses)
#include "tst_addresses.moc"

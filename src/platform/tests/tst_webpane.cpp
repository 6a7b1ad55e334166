#include "eventloop.h"
#include "fakes.h"
#include "localsite.h"
#include "testhttpserver.h"
#include "webpane.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <csignal>

namespace {

constexpr int loadTimeout = 60000;

// The real pane, by default over a site that is never started: a test sees
// only the servers it runs itself.
struct Pane {
    QWidget host;
    RecordingMessenger messenger;
    RecordingLauncher browser;
    platform::LocalSite site;
    std::unique_ptr<platform::WebPane> pane;

    explicit Pane(const QString& program = {}, bool startable = false, int waitMilliseconds = 2000)
        : site(
              program, [startable](const QString&, const QStringList&, int) { return startable; },
              waitMilliseconds)
        , pane(platform::attachWebPane(&host, site, browser, messenger)) {
        host.resize(545, 297);
    }
    QWebEngineView* view() const { return host.findChild<QWebEngineView*>(); }
    QStringList failures() const {
        QStringList texts;
        for (const platform::Message& message : messenger.messages) {
            texts << message.text;
        }
        return texts;
    }
};

// A server that answers each target with the bytes set for it, whole
// responses, on an address of the test's choosing.
class RawServer final : public QObject {
public:
    explicit RawServer(const QHostAddress& address = QHostAddress::LocalHost) {
        m_server.listen(address);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    bool listening() const { return m_server.isListening(); }
    QString root() const {
        const QHostAddress address = m_server.serverAddress();
        return QStringLiteral("http://%1:%2").arg(address.toString()).arg(m_server.serverPort());
    }
    void setPage(const QByteArray& target, const QByteArray& html) {
        m_answers[target] = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                            "Content-Length: " +
                            QByteArray::number(html.size()) + "\r\nConnection: close\r\n\r\n" +
                            html;
    }
    void setRedirect(const QByteArray& target, const QByteArray& location) {
        m_answers[target] = "HTTP/1.1 302 Found\r\nLocation: " + location +
                            "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    QList<QByteArray> targets;

private:
    void serve(QTcpSocket* socket) {
        const QByteArray request = socket->readAll();
        const QByteArray target = request.left(request.indexOf("\r\n")).split(' ').value(1);
        targets << target;
        socket->write(m_answers.value(target, "HTTP/1.1 404 Not Found\r\nContent-Length: "
                                              "0\r\nConnection: close\r\n\r\n"));
        socket->disconnectFromHost();
    }
    QTcpServer m_server;
    QHash<QByteArray, QByteArray> m_answers;
};

// This machine's first address that is not loopback, where a site run for
// others listens; null when it has none.
QHostAddress publicAddress() {
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol) {
            return address;
        }
    }
    return {};
}

// A page whose upper half is the element under test and whose lower half a
// link off the site: clicked after the upper half, the browser receiving it
// shows that the first click has been dealt with.
QByteArray twoHalves(const QByteArray& upper) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>halves</title></head>"
           "<body style=\"margin:0\"><div style=\"height:50vh\">" +
           upper +
           "</div><a href=\"http://elsewhere.test/after\" "
           "style=\"display:block;height:50vh\">after</a></body></html>";
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class TestWebPane : public QObject {
    Q_OBJECT

private slots:
    // First: once loaded, the module stays for the life of the process.
    void reportsAMissingModule();
    void startsBlankWithoutTheEngine();
    void addressGivenBeforeTheEngineIsLoaded();
    void laterAddressReplacesThePage();
    void showsItsOwnPageWhenTheSiteFails_data();
    void showsItsOwnPageWhenTheSiteFails();
    void staysOnTheSitesOrigin_data();
    void staysOnTheSitesOrigin();
    void survivesItsPageProcessDying();
    void actsOnlyOnItsOwnSitesClick_data();
    void actsOnlyOnItsOwnSitesClick();
    void reportsAMissingEngine();
};

void TestWebPane::reportsAMissingModule() {
    const QString module = QCoreApplication::applicationDirPath() + "/" QUELVIX_WEBPANE_MODULE;
    const QString aside = module + ".aside";
    QVERIFY(QFile::rename(module, aside));
    Pane p;
    p.host.show();
    p.pane->navigate(QUrl("http://127.0.0.1:9/a.html"));
    QVERIFY(QFile::rename(aside, module));
    QCOMPARE(p.failures().size(), 1);
    QVERIFY2(p.failures()[0].contains(QStringLiteral("网页显示模块")), qPrintable(p.failures()[0]));
    QVERIFY(p.messenger.messages[0].icon == platform::MessageIcon::Critical);
    QCOMPARE(p.messenger.messages[0].title, QString());
    QVERIFY(!p.view());
}

void TestWebPane::reportsAMissingEngine() {
    const QByteArray saved = qgetenv("QTWEBENGINEPROCESS_PATH");
    qputenv("QTWEBENGINEPROCESS_PATH", "/nonexistent/QtWebEngineProcess");
    Pane p;
    p.pane->navigate(QUrl("http://127.0.0.1:9/early.html"));
    p.host.show();
    QTRY_COMPARE(p.failures().size(), 1);
    QVERIFY2(p.failures()[0].contains(QStringLiteral("QtWebEngineProcess")),
             qPrintable(p.failures()[0]));
    QVERIFY(!p.view());

    // Every later lookup says why nothing appears, and the process goes on.
    p.pane->navigate(QUrl("http://127.0.0.1:9/later.html"));
    QCOMPARE(p.failures().size(), 2);
    QVERIFY(!p.view());
    if (saved.isNull()) {
        qunsetenv("QTWEBENGINEPROCESS_PATH");
    } else {
        qputenv("QTWEBENGINEPROCESS_PATH", saved);
    }
}

void TestWebPane::startsBlankWithoutTheEngine() {
    Pane p;
    auto* text = new QLineEdit(&p.host);
    QCOMPARE(p.host.palette().color(QPalette::Window), QColor(Qt::white));
    p.host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.host));
    const WId before = p.host.winId();
    runPostedEvents();
    QVERIFY(!p.view()); // An idle window never loads the engine.
    QTest::keyClick(text, Qt::Key_Shift);
    QTest::keyClick(text, Qt::Key_S, Qt::ControlModifier);
    runPostedEvents();
    QVERIFY(!p.view()); // Nor do keys that type nothing.
    QTest::keyClick(text, Qt::Key_E);
    QTRY_VERIFY(p.view());
    QTRY_COMPARE(p.view()->geometry(), p.host.rect());
    // The window must not be recreated when the engine arrives: that would
    // flicker and lose the keyboard focus.
    QCOMPARE(p.host.winId(), before);
    QCOMPARE(p.host.focusProxy(), p.view());
    QVERIFY(p.view()->url().isEmpty());
}

void TestWebPane::addressGivenBeforeTheEngineIsLoaded() {
    TestHttpServer server;
    Pane p;
    p.pane->navigate(QUrl(server.root() + "/filefound/early.html"));
    p.host.show();
    QTRY_VERIFY_WITH_TIMEOUT(server.wasRequested("/filefound/early.html"), loadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /filefound/early.html"),
                              loadTimeout);
}

void TestWebPane::laterAddressReplacesThePage() {
    TestHttpServer server;
    Pane p;
    p.host.show();
    p.pane->navigate(QUrl(server.root() + "/a.html"));
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /a.html"), loadTimeout);
    p.pane->navigate(QUrl(server.root() + "/b.html"));
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /b.html"), loadTimeout);
    QCOMPARE(p.view()->url(), QUrl(server.root() + "/b.html"));
}

// When the site cannot be had the pane says so on a page of its own, with
// the command that mends it, instead of the engine's "cannot reach this
// site"; and its menus speak the application's language.
void TestWebPane::showsItsOwnPageWhenTheSiteFails_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("startable");
    QTest::addColumn<bool>("listening"); // something of this user's takes connections
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("fix");

    QTest::newRow("missing") << "" << false << false << "找不到它"
                             << "sudo apt-get install ./quelvix_*.deb";
    QTest::newRow("started, never answers")
        << "/opt/quelvix/quelvix-site" << true << false << "没有在端口"
        << "/opt/quelvix/quelvix-site --port ";
    QTest::newRow("closes without a page") << "quelvix-site" << false << true << "没有在端口"
                                           << "quelvix-site --port ";
}

void TestWebPane::showsItsOwnPageWhenTheSiteFails() {
    QFETCH(QString, program);
    QFETCH(bool, startable);
    QFETCH(bool, listening);
    QFETCH(QString, said);
    QFETCH(QString, fix);

    // Takes every connection and closes it unanswered.
    QTcpServer mute;
    QObject::connect(&mute, &QTcpServer::newConnection, &mute, [&mute] {
        while (QTcpSocket* socket = mute.nextPendingConnection()) {
            socket->close();
            socket->deleteLater();
        }
    });
    const quint16 port =
        listening && mute.listen(QHostAddress::LocalHost) ? mute.serverPort() : freePort();
    Pane p(program, startable, 500);
    p.host.show();
    const QUrl address(QStringLiteral("http://127.0.0.1:%1/filefound/pdf.html").arg(port));
    p.pane->navigate(address);
    QVERIFY(p.view());
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("无法显示查询页面"), loadTimeout);

    QString text;
    p.view()->page()->toPlainText([&text](const QString& plain) { text = plain; });
    QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), loadTimeout);
    QVERIFY2(text.contains(said), qPrintable(text));
    QVERIFY2(text.contains(fix), qPrintable(text));
    QVERIFY2(text.contains(address.toString()), qPrintable(text));
    QVERIFY(p.view()->url() != address);
    QVERIFY(p.messenger.messages.isEmpty()); // said in the pane, once

    QCOMPARE(p.view()->pageAction(QWebEnginePage::Back)->text(), QStringLiteral("后退"));
}

// No script runs in the pane, and a link leaves the site's origin only for
// the default browser.
void TestWebPane::staysOnTheSitesOrigin_data() {
    QTest::addColumn<QString>("link");   // the link's attributes
    QTest::addColumn<QString>("shown");  // the page then in the pane, from the site's root
    QTest::addColumn<QString>("handed"); // the address then given to the browser, from the root

    QTest::newRow("same origin: in the pane") << "href=\"/filefound/exe.html\""
                                              << "/filefound/exe.html"
                                              << "";
    QTest::newRow("elsewhere: in the browser") << "href=\"http://elsewhere.test/x.html\""
                                               << "/links.html"
                                               << "http://elsewhere.test/x.html";
    QTest::newRow("new window elsewhere: in the browser")
        << "target=\"_blank\" href=\"http://elsewhere.test/y.html\""
        << "/links.html"
        << "http://elsewhere.test/y.html";
    QTest::newRow("new window on the site: in the pane")
        << "target=\"_blank\" href=\"/filefound/pdf.html\""
        << "/filefound/pdf.html"
        << "";
    QTest::newRow("full page on the site: in the browser") << "href=\"/soso/exe.htm\""
                                                           << "/links.html"
                                                           << "/soso/exe.htm";
    QTest::newRow("new window, full page on the site: in the browser")
        << "target=\"_blank\" href=\"/soso/pdf.htm\""
        << "/links.html"
        << "/soso/pdf.htm";
    QTest::newRow("same host, other port: in the browser") << "href=\"http://127.0.0.1:9/z.html\""
                                                           << "/links.html"
                                                           << "http://127.0.0.1:9/z.html";
}

void TestWebPane::staysOnTheSitesOrigin() {
    QFETCH(QString, link);
    QFETCH(QString, shown);
    QFETCH(QString, handed);

    TestHttpServer server;
    server.setPage("/links.html",
                   "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>links</title>"
                   "<script>document.title = 'script ran';</script></head>"
                   "<body style=\"margin:0\"><a " +
                       link.toUtf8() +
                       " style=\"display:block;width:100vw;height:100vh\">link</a></body></html>");
    Pane p;
    p.host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.host));
    p.pane->navigate(QUrl(server.root() + "/links.html"));
    QVERIFY(p.view());
    QSignalSpy loaded(p.view()->page(), &QWebEnginePage::loadFinished);
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, loadTimeout);
    QCOMPARE(p.view()->title(), QStringLiteral("links")); // the script did not run

    QTRY_VERIFY_WITH_TIMEOUT(p.view()->focusProxy(), loadTimeout);
    QWidget* surface = p.view()->focusProxy();
    const auto followed = [&] {
        return handed.isEmpty() ? p.view()->url() == QUrl(server.root() + shown)
                                : !p.browser.opened.isEmpty();
    };
    // A page takes clicks only once its renderer has drawn it, which comes
    // some time after loadFinished on a busy machine; a click before that is
    // lost, so it is given again until one is followed.
    for (int attempt = 0; attempt < 10 && !followed(); ++attempt) {
        QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
        QTest::qWaitFor(followed, 3000);
    }
    QVERIFY(followed());
    if (handed.isEmpty()) {
        QVERIFY(p.browser.opened.isEmpty());
    } else {
        const QUrl expected = QUrl(server.root()).resolved(QUrl(handed));
        for (const QUrl& opened : p.browser.opened) {
            QCOMPARE(opened, expected);
        }
        QCOMPARE(p.view()->url(), QUrl(server.root() + shown));
        QVERIFY(!server.wasRequested(expected.path().toUtf8()));
    }
}

void TestWebPane::survivesItsPageProcessDying() {
    TestHttpServer server;
    Pane p;
    p.host.show();
    p.pane->navigate(QUrl(server.root() + "/before.html"));
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /before.html"), loadTimeout);

    const qint64 pid = p.view()->page()->renderProcessPid();
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.failures().size(), 1, loadTimeout);
    QVERIFY2(p.failures()[0].startsWith(QStringLiteral("网页显示进程")),
             qPrintable(p.failures()[0]));

    p.pane->navigate(QUrl(server.root() + "/after.html"));
    QTRY_VERIFY_WITH_TIMEOUT(server.wasRequested("/after.html"), loadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /after.html"), loadTimeout);
}

// An action link acts only when the person clicks it in the main frame of a
// page of the site on loopback; no action address is ever loaded.
void TestWebPane::actsOnlyOnItsOwnSitesClick_data() {
    QTest::addColumn<QString>("where"); // site, export, public, other, frame, redirect
    QTest::addColumn<bool>("acts");

    QTest::newRow("the site's page: acts") << "site" << true;
    QTest::newRow("exported page: refused") << "export" << false;
    QTest::newRow("--public page: refused") << "public" << false;
    QTest::newRow("another origin's page: refused") << "other" << false;
    QTest::newRow("in a frame: refused") << "frame" << false;
    QTest::newRow("after a redirect: refused") << "redirect" << false;
}

void TestWebPane::actsOnlyOnItsOwnSitesClick() {
    QFETCH(QString, where);
    QFETCH(bool, acts);

    const QByteArray action = "/action/open?program=org.example.Viewer.desktop";
    RawServer site;
    RawServer other;
    RawServer publicSite(where == "public" ? publicAddress() : QHostAddress::LocalHost);
    if (where == "public" && !publicSite.listening()) {
        QSKIP("not run: this machine has no address but loopback for a public site");
    }
    const QByteArray absolute = site.root().toUtf8() + action;
    const auto link = [](const QByteArray& href) {
        return "<a href=\"" + href + "\" style=\"display:block;height:50vh\">act</a>";
    };
    site.setPage("/page.html", twoHalves(link(action)));
    site.setPage("/framed.html", twoHalves("<iframe src=\"/frame.html\" "
                                           "style=\"border:0;width:100%;height:50vh\"></iframe>"));
    site.setPage("/frame.html", "<!DOCTYPE html><html><body style=\"margin:0\">" + link(action) +
                                    "</body></html>");
    site.setPage("/redirecting.html", twoHalves(link("/redirect")));
    site.setRedirect("/redirect", action);
    other.setPage("/page.html", twoHalves(link(absolute)));
    publicSite.setPage("/page.html", twoHalves(link(action)));
    QTemporaryDir exported;
    QFile file(exported.filePath("page.html"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(twoHalves(link(absolute)));
    file.close();

    const QHash<QString, QUrl> start{
        {"site", QUrl(site.root() + "/page.html")},
        {"export", QUrl::fromLocalFile(file.fileName())},
        {"public", QUrl(publicSite.root() + "/page.html")},
        {"other", QUrl(other.root() + "/page.html")},
        {"frame", QUrl(site.root() + "/framed.html")},
        {"redirect", QUrl(site.root() + "/redirecting.html")},
    };
    Pane p;
    QList<addresses::ActionRequest> acted;
    p.pane->onAction([&](const platform::PageAction& a) { acted << a.request; });
    p.host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.host));
    p.pane->navigate(start[where]);
    QVERIFY(p.view());
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("halves"), loadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(p.view()->focusProxy(), loadTimeout);
    QWidget* surface = p.view()->focusProxy();
    const QPoint upper(surface->width() / 2, surface->height() / 4);
    const QPoint lower(surface->width() / 2, surface->height() * 3 / 4);

    // A page takes clicks only once its renderer has drawn it: a click may
    // be lost and is given again until what it leads to is seen.
    const auto clickUntil = [&](const std::function<void()>& click,
                                const std::function<bool()>& done) {
        for (int attempt = 0; attempt < 10 && !done(); ++attempt) {
            click();
            (void)QTest::qWaitFor(done, 3000);
        }
        return done();
    };
    const auto at = [&](QPoint point) {
        return [surface, point] {
            QTest::mouseClick(surface, Qt::LeftButton, {}, point);
        };
    };
    const auto handedOver = [&] {
        return !p.browser.opened.isEmpty();
    };
    if (acts) {
        QVERIFY(clickUntil(at(upper), [&] { return !acted.isEmpty(); }));
    } else if (where == "redirect") {
        QVERIFY(clickUntil(at(upper), [&] { return site.targets.contains("/redirect"); }));
        QVERIFY(clickUntil(at(lower), handedOver));
    } else {
        // The lower half's link reaching the browser shows the click on the
        // upper half, given just before, was dealt with.
        QVERIFY(clickUntil(
            [&] {
                at(upper)();
                at(lower)();
            },
            handedOver));
    }
    QCOMPARE(acted.size(), acts ? 1 : 0);
    if (acts) {
        QCOMPARE(acted[0].action, addresses::Action::Open);
        QCOMPARE(acted[0].program, QStringLiteral("org.example.Viewer.desktop"));
    }
    for (const QUrl& opened : p.browser.opened) {
        QCOMPARE(opened, QUrl("http://elsewhere.test/after"));
    }
    for (const RawServer* server : {&site, &other, &publicSite}) {
        for (const QByteArray& target : server->targets) {
            QVERIFY2(!target.startsWith("/action/"), target.constData());
        }
    }
}

QTEST_MAIN(TestWebPane)
#include "tst_webpane.moc"

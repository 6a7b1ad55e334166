// Starting the local lookup site when an address on loopback finds nothing.
#include "fakes.h"
#include "localsite.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

namespace {

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

QUrl lookupOn(quint16 port) {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/filefound/pdf.html").arg(port));
}

// Starts the real site as the app would, but kept, so the test can end it.
struct KeptStarts {
    ~KeptStarts() {
        for (auto& site : sites) {
            site->kill();
            site->waitForFinished();
        }
    }
    std::vector<std::unique_ptr<QProcess>> sites;
    QStringList lastArguments;

    platform::LocalSite::Starter starter() {
        return [this](const QString& program, const QStringList& arguments) {
            lastArguments = arguments;
            sites.push_back(std::make_unique<QProcess>());
            sites.back()->start(program, arguments);
            return sites.back()->waitForStarted();
        };
    }
};

} // namespace

class TestLocalSite : public QObject {
    Q_OBJECT

private slots:
    void startsTheSiteAndTheLookupArrives();
    void startsNoneWhenOneAnswers();
    void twoAtOnceShareOneSite();
    void goesAheadWhenNoSiteCanStart();
    void startsOnTheSchemesDefaultPort();
    void addressesElsewhereNeedNoSite_data();
    void addressesElsewhereNeedNoSite();
    void siteEndsWhenIdle();
};

void TestLocalSite::startsTheSiteAndTheLookupArrives() {
    const quint16 port = freePort();
    KeptStarts starts;
    platform::LocalSite site(QStringLiteral(QUELVIX_SITE_BINARY), starts.starter());
    QList<QUrl> shown;
    const platform::WebPaneFactory pane = platform::withLocalSite(
        [&shown](QWidget*, platform::WebPaneFailureHandler) {
            return std::unique_ptr<platform::WebPane>(std::make_unique<RecordingWebPane>(shown));
        },
        site);
    const std::unique_ptr<platform::WebPane> web = pane(nullptr, {});
    web->navigate(lookupOn(port));
    QVERIFY(shown.isEmpty()); // the event loop goes on while the site starts
    QTRY_COMPARE_WITH_TIMEOUT(shown, QList<QUrl>{lookupOn(port)}, 3000);
    QVERIFY(accepts(port));
    QCOMPARE(starts.sites.size(), size_t(1));
    QCOMPARE(starts.lastArguments,
             (QStringList{"--port", QString::number(port), "--exit-when-idle", "1800"}));
}

void TestLocalSite::startsNoneWhenOneAnswers() {
    QTcpServer running;
    QVERIFY(running.listen(QHostAddress::LocalHost));
    KeptStarts starts;
    platform::LocalSite site(QStringLiteral(QUELVIX_SITE_BINARY), starts.starter());
    RecordingMessenger messenger;
    const auto launcher =
        platform::withLocalSite(std::make_unique<RecordingLauncher>(), site, messenger);
    QVERIFY(!launcher->open(lookupOn(running.serverPort())));
    QVERIFY(starts.sites.empty());
}

// Two apps starting at once both start a site; the second cannot have the
// port, ends, and both go on with the first.
void TestLocalSite::twoAtOnceShareOneSite() {
    const quint16 port = freePort();
    KeptStarts first;
    KeptStarts second;
    platform::LocalSite one(QStringLiteral(QUELVIX_SITE_BINARY), first.starter());
    platform::LocalSite other(QStringLiteral(QUELVIX_SITE_BINARY), second.starter());
    int reached = 0;
    one.whenReachable(lookupOn(port), [&reached] { ++reached; });
    other.whenReachable(lookupOn(port), [&reached] { ++reached; });
    QTRY_COMPARE_WITH_TIMEOUT(reached, 2, 3000);
    QVERIFY(accepts(port));
    QCOMPARE(first.sites.size(), size_t(1));
    if (second.sites.empty()) {
        return; // the first site answered before the second asked: started once
    }
    QProcess* a = first.sites.front().get();
    QProcess* b = second.sites.front().get();
    QTRY_VERIFY_WITH_TIMEOUT(
        a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning, 3000);
    QVERIFY(a->state() == QProcess::Running || b->state() == QProcess::Running);
    QProcess* ended = a->state() == QProcess::NotRunning ? a : b;
    QCOMPARE(ended->exitCode(), 1);
}

// No site installed: the page shows the engine's own error, as for any
// address that does not answer, and a browser failure is still reported.
void TestLocalSite::goesAheadWhenNoSiteCanStart() {
    platform::LocalSite site(QString(), [](const QString&, const QStringList&) { return false; });
    auto recording = std::make_unique<RecordingLauncher>();
    recording->failure = QStringLiteral("no browser");
    RecordingLauncher& inner = *recording;
    RecordingMessenger messenger;
    const auto launcher = platform::withLocalSite(std::move(recording), site, messenger);
    const QUrl address = lookupOn(freePort());
    QCOMPARE(launcher->open(address), std::optional<QString>(QStringLiteral("no browser")));
    QCOMPARE(inner.opened, QList<QUrl>{address});
}

void TestLocalSite::startsOnTheSchemesDefaultPort() {
    QStringList asked;
    platform::LocalSite site(QStringLiteral("quelvix-site"),
                             [&asked](const QString&, const QStringList& arguments) {
                                 asked = arguments;
                                 return false;
                             });
    bool wentOn = false;
    site.whenReachable(QUrl("https://127.0.0.1/"), [&wentOn] { wentOn = true; });
    QVERIFY(wentOn);
    if (asked.isEmpty()) {
        QSKIP("something answers on port 443 here");
    }
    QCOMPARE(asked.mid(0, 2), (QStringList{"--port", "443"}));
}

void TestLocalSite::addressesElsewhereNeedNoSite_data() {
    QTest::addColumn<QUrl>("address");
    QTest::addColumn<bool>("loopback");
    QTest::newRow("127.0.0.1") << QUrl("http://127.0.0.1:1/") << true;
    QTest::newRow("127.1.2.3") << QUrl("http://127.1.2.3:1/") << true;
    QTest::newRow("localhost") << QUrl("http://localhost:1/") << true;
    QTest::newRow("::1") << QUrl("http://[::1]:1/") << true;
    QTest::newRow("other host") << QUrl("https://lookup.example.org/") << false;
    QTest::newRow("private address") << QUrl("http://192.168.1.1/") << false;
    QTest::newRow("loopback-looking name") << QUrl("http://127.0.0.1.example.org/") << false;
}

void TestLocalSite::addressesElsewhereNeedNoSite() {
    QFETCH(QUrl, address);
    QFETCH(bool, loopback);
    QCOMPARE(platform::LocalSite::isLoopback(address), loopback);
}

void TestLocalSite::siteEndsWhenIdle() {
    QProcess site;
    site.start(QStringLiteral(QUELVIX_SITE_BINARY),
               {"--port", QString::number(freePort()), "--exit-when-idle", "1"});
    QVERIFY(site.waitForStarted());
    QVERIFY(site.waitForFinished(5000));
    QCOMPARE(site.exitStatus(), QProcess::NormalExit);
    QCOMPARE(site.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestLocalSite)
#include "tst_localsite.moc"

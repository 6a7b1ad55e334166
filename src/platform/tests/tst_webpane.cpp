#include "testhttpserver.h"
#include "webpane.h"

#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <csignal>

namespace {

constexpr int loadTimeout = 60000;

struct Pane {
    QWidget host;
    QStringList failures;
    std::unique_ptr<platform::WebPane> pane =
        platform::attachWebPane(&host, [this](const QString& reason) { failures.append(reason); });

    Pane() { host.resize(545, 297); }
    QWebEngineView* view() const { return host.findChild<QWebEngineView*>(); }
};

} // namespace

class TestWebPane : public QObject {
    Q_OBJECT

private slots:
    void startsBlankWithoutTheEngine();
    void addressGivenBeforeTheEngineIsLoaded();
    void laterAddressReplacesThePage();
    void survivesItsPageProcessDying();
    void reportsAMissingEngine();
};

void TestWebPane::reportsAMissingEngine() {
    const QByteArray saved = qgetenv("QTWEBENGINEPROCESS_PATH");
    qputenv("QTWEBENGINEPROCESS_PATH", "/nonexistent/QtWebEngineProcess");
    Pane p;
    p.pane->navigate(QUrl("http://127.0.0.1:9/early.html"));
    p.host.show();
    QTRY_COMPARE(p.failures.size(), 1);
    QVERIFY2(p.failures[0].contains(QStringLiteral("QtWebEngineProcess")),
             qPrintable(p.failures[0]));
    QVERIFY(!p.view());

    // Every later lookup says why nothing appears, and the process goes on.
    p.pane->navigate(QUrl("http://127.0.0.1:9/later.html"));
    QCOMPARE(p.failures.size(), 2);
    QVERIFY(!p.view());
    if (saved.isNull()) {
        qunsetenv("QTWEBENGINEPROCESS_PATH");
    } else {
        qputenv("QTWEBENGINEPROCESS_PATH", saved);
    }
}

void TestWebPane::startsBlankWithoutTheEngine() {
    Pane p;
    QVERIFY(!p.view());
    QCOMPARE(p.host.palette().color(QPalette::Window), QColor(Qt::white));
    p.host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.host));
    const WId before = p.host.winId();
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
    QVERIFY(!p.view());
    p.host.show();
    QTRY_VERIFY_WITH_TIMEOUT(server.wasRequested("/filefound/early.html"), loadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /filefound/early.html"),
                              loadTimeout);
}

void TestWebPane::laterAddressReplacesThePage() {
    TestHttpServer server;
    Pane p;
    p.host.show();
    QTRY_VERIFY(p.view());
    p.pane->navigate(QUrl(server.root() + "/a.html"));
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /a.html"), loadTimeout);
    p.pane->navigate(QUrl(server.root() + "/b.html"));
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /b.html"), loadTimeout);
    QCOMPARE(p.view()->url(), QUrl(server.root() + "/b.html"));
}

void TestWebPane::survivesItsPageProcessDying() {
    TestHttpServer server;
    Pane p;
    p.host.show();
    QTRY_VERIFY(p.view());
    p.pane->navigate(QUrl(server.root() + "/before.html"));
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /before.html"), loadTimeout);

    const qint64 pid = p.view()->page()->renderProcessPid();
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.failures.size(), 1, loadTimeout);
    QVERIFY2(p.failures[0].startsWith(QStringLiteral("网页显示进程")), qPrintable(p.failures[0]));

    p.pane->navigate(QUrl(server.root() + "/after.html"));
    QTRY_VERIFY_WITH_TIMEOUT(server.wasRequested("/after.html"), loadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(p.view()->title(), QStringLiteral("page /after.html"), loadTimeout);
}

QTEST_MAIN(TestWebPane)
#include "tst_webpane.moc"

#include "testhttpserver.h"
#include "webpane.h"

#include <QFile>
#include <QLineEdit>
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
    // First: once loaded, the module stays for the life of the process.
    void reportsAMissingModule();
    void startsBlankWithoutTheEngine();
    void addressGivenBeforeTheEngineIsLoaded();
    void laterAddressReplacesThePage();
    void survivesItsPageProcessDying();
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
    QCOMPARE(p.failures.size(), 1);
    QVERIFY2(p.failures[0].contains(QStringLiteral("网页显示模块")), qPrintable(p.failures[0]));
    QVERIFY(!p.view());
}

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
    auto* text = new QLineEdit(&p.host);
    QCOMPARE(p.host.palette().color(QPalette::Window), QColor(Qt::white));
    p.host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.host));
    const WId before = p.host.winId();
    QTest::qWait(300);
    QVERIFY(!p.view()); // An idle window never loads the engine.
    QTest::keyClick(text, Qt::Key_Shift);
    QTest::keyClick(text, Qt::Key_S, Qt::ControlModifier);
    QTest::qWait(100);
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

void TestWebPane::survivesItsPageProcessDying() {
    TestHttpServer server;
    Pane p;
    p.host.show();
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

#include "browserlauncher.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A stand-in for xdg-open, first on PATH, that writes each argument it gets
// on a line of its own.
bool installRecorder(const QTemporaryDir& dir) {
    QFile script(dir.filePath(QStringLiteral("xdg-open")));
    if (!script.open(QIODevice::WriteOnly)) {
        return false;
    }
    script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.log.tmp\"\n"
                 "mv \"$0.log.tmp\" \"$0.log\"\n");
    script.close();
    return script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray recorded(const QTemporaryDir& dir) {
    QFile log(dir.filePath(QStringLiteral("xdg-open.log")));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

} // namespace

class TestXdgBrowserLauncher : public QObject {
    Q_OBJECT

private slots:
    void handsOverTheAddressAsOneArgument_data();
    void handsOverTheAddressAsOneArgument();
    void reportsAMissingOpener();
    void reportsAnOpenerThatFails();
};

void TestXdgBrowserLauncher::handsOverTheAddressAsOneArgument_data() {
    QTest::addColumn<QUrl>("address");
    QTest::addColumn<QByteArray>("argument");

    QTest::newRow("plain") << QUrl("http://127.0.0.1:27380/soso/exe.htm")
                           << QByteArray("http://127.0.0.1:27380/soso/exe.htm");
    QTest::newRow("encoded blank") << QUrl("http://127.0.0.1:27380/soso/%20.htm")
                                   << QByteArray("http://127.0.0.1:27380/soso/%20.htm");
    QTest::newRow("shell metacharacters stay inert")
        << QUrl("http://h/soso/a;b$(touch%20x)'&.htm")
        << QByteArray("http://h/soso/a;b$(touch%20x)'&.htm");
}

void TestXdgBrowserLauncher::handsOverTheAddressAsOneArgument() {
    QFETCH(QUrl, address);
    QFETCH(QByteArray, argument);

    QTemporaryDir dir;
    QVERIFY(installRecorder(dir));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toLocal8Bit() + ":" + path);
    const auto error = platform::startBrowser(address, {});
    qputenv("PATH", path);

    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QTRY_COMPARE_WITH_TIMEOUT(recorded(dir), argument + "\n", 10000);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("x"))));
}

void TestXdgBrowserLauncher::reportsAMissingOpener() {
    QTemporaryDir empty;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty.path().toLocal8Bit());
    const auto error = platform::startBrowser(QUrl("http://h/"), {});
    qputenv("PATH", path);

    QVERIFY(error);
    QVERIFY2(error->startsWith(QStringLiteral("无法启动 xdg-open：")), qPrintable(*error));
}

// An opener that starts but ends with an error is reported afterwards, with
// its exit code, while the caller goes on at once.
void TestXdgBrowserLauncher::reportsAnOpenerThatFails() {
    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("xdg-open")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexit 3\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    QStringList late;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toLocal8Bit() + ":" + path);
    const auto error = platform::startBrowser(QUrl("http://h/"),
                                              [&late](const QString& reason) { late << reason; });
    qputenv("PATH", path);

    QVERIFY(!error);
    QVERIFY(late.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(late.size(), 1, 10000);
    QVERIFY2(late.first().contains(QStringLiteral("退出代码 3")), qPrintable(late.first()));
}

QTEST_GUILESS_MAIN(TestXdgBrowserLauncher)
#include "tst_browserlauncher_xdg.moc"

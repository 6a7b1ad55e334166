#include "fakeservices.h"
#include "fixtures.h"
#include "form1.h"
#include "siteprocess.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

// The main window looking up in its pane on the real lookup site.
class TestSitePane : public QObject {
    Q_OBJECT

private slots:
    void pdfPageNamesThePdfType();
    void actionsOnlyForThisUsersApp_data();
    void actionsOnlyForThisUsersApp();
};

// The site serves its buttons to this user's app alone: the pages of a
// public site and of an export, read by people without the app, carry none.
void TestSitePane::actionsOnlyForThisUsersApp_data() {
    QTest::addColumn<QString>("served");
    QTest::addColumn<QStringList>("actions");
    const QStringList none;
    QTest::newRow("the app's own site")
        << ""
        << QStringList{"/action/open?program=qvx-viewer.desktop",
                       "/action/install?package=org.example.b&amp;component=org.example.B"};
    QTest::newRow("a public site") << "--public" << none;
    QTest::newRow("an export") << "--export" << none;
}

void TestSitePane::actionsOnlyForThisUsersApp() {
    QFETCH(QString, served);
    QFETCH(QStringList, actions);
    TestWorld world;
    QVERIFY(world.make(false));
    const QStringList catalog{"--catalog", world.catalog};
    QStringList pages;
    if (served == "--export") {
        const QString out = world.dir.filePath("export");
        QProcess exporter;
        exporter.setProcessEnvironment(world.env);
        exporter.start(QStringLiteral(QUELVIX_SITE_BINARY), QStringList{served, out} + catalog);
        QVERIFY(exporter.waitForFinished(120000));
        QCOMPARE(exporter.exitCode(), 0);
        for (const char* file : {"/filefound/qvxtest.html", "/soso/qvxtest.htm"}) {
            QFile page(out + file);
            QVERIFY2(page.open(QIODevice::ReadOnly), file);
            pages << QString::fromUtf8(page.readAll());
        }
    } else {
        const Site site(world.env, served.isEmpty() ? catalog : QStringList{served} + catalog);
        QVERIFY(site.isUp());
        for (const char* target : {"/filefound/qvxtest.html?type=application/x-quelvix-test",
                                   "/filefound/qvxtest.html", "/soso/qvxtest.htm"}) {
            const Reply reply = site.get(target);
            QCOMPARE(reply.status, 200);
            pages << reply.body;
        }
    }
    const QString all = pages.join(u'\n');
    QVERIFY(all.contains("sudo apt install org.example.b"));
    for (const QString& action : actions) {
        QVERIFY2(all.contains("href=\"" + action + "\""), qPrintable(action));
    }
    if (actions.isEmpty()) {
        QVERIFY(!all.contains("/action/"));
        QVERIFY(!all.contains("当前默认"));
    }
}

void TestSitePane::pdfPageNamesThePdfType() {
    QProcess site;
    site.start(QStringLiteral(QUELVIX_SITE_BINARY), {"--port", "0"});
    QVERIFY(site.waitForReadyRead(30000));
    const QByteArray line = site.readLine().trimmed();
    const QString root = QString::fromLatin1(line.mid(line.indexOf("http://")));
    QVERIFY(root.startsWith("http://127.0.0.1:"));

    FakeServices fakes;
    RecordingMessenger& messenger = fakes.messenger;
    Form1 form(fakes.withRealPane({root, root, root}));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* text1 = form.findChild<QLineEdit*>(QStringLiteral("Text1"));
    QTest::keyClicks(text1, "pdf");
    QTest::keyClick(text1, Qt::Key_Return);

    QTRY_VERIFY_WITH_TIMEOUT(form.findChild<QWebEngineView*>(), 60000);
    auto* view = form.findChild<QWebEngineView*>();
    QTRY_VERIFY_WITH_TIMEOUT(view->title().contains(QStringLiteral("PDF 文档")), 60000);
    // The title arrives before the body, which waits for the style sheet, so
    // the text is asked for again until the page has it.
    QString text;
    QTRY_VERIFY_WITH_TIMEOUT(
        (view->page()->toPlainText([&text](const QString& plain) { text = plain; }),
         text.contains(QStringLiteral("application/pdf"))),
        30000);
    QVERIFY(messenger.messages.isEmpty());

    site.kill();
    site.waitForFinished();
}

QTEST_MAIN(TestSitePane)
#include "tst_site_pane.moc"

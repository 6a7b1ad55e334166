#include "fakeservices.h"
#include "form1.h"

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
};

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

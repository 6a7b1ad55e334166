#include "eventloop.h"
#include "fakeservices.h"
#include "form1.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWebEngineView>

namespace {

constexpr int loadTimeout = 60000;

// The main window with the real web pane, looking up on a local server.
struct Harness : FakeServices {
    TestHttpServer server;
    Form1 form{withRealPane({server.root(), server.root(), server.root()})};

    QLineEdit* text1() const { return form.findChild<QLineEdit*>(QStringLiteral("Text1")); }
    QPushButton* command1() const {
        return form.findChild<QPushButton*>(QStringLiteral("Command1"));
    }
    QWebEngineView* view() const { return form.findChild<QWebEngineView*>(); }
    bool show() {
        form.show();
        QApplication::setActiveWindow(&form);
        return QTest::qWaitForWindowActive(&form);
    }
    void lookUp(const QString& text) {
        text1()->setText(text);
        QTest::keyClick(text1(), Qt::Key_Return);
    }
};

} // namespace

class TestForm1Web : public QObject {
    Q_OBJECT

private slots:
    void addressArrivesAsTyped_data();
    void addressArrivesAsTyped();
    void secondLookupReplacesTheFirst();
    void lookupBeforeThePaneIsReady();
    void emptyInputLoadsNothing();
    void paneDoesNotTakeTheFocus();
    void dropOnThePaneReachesTheWindow();
    void backAndForwardKeepTheText_data();
    void backAndForwardKeepTheText();
};

// Back and forward from the keyboard and from the mouse's side buttons, also
// with the focus or the pointer on the text box, which keeps what was typed.
void TestForm1Web::backAndForwardKeepTheText_data() {
    QTest::addColumn<bool>("mouse");

    QTest::newRow("Alt+Left, Alt+Right in the text box") << false;
    QTest::newRow("the mouse's side buttons over the text box") << true;
}

void TestForm1Web::backAndForwardKeepTheText() {
    QFETCH(bool, mouse);

    Harness h;
    QVERIFY(h.show());
    const QUrl exe(h.server.root() + "/filefound/exe.html");
    const QUrl pdf(h.server.root() + "/filefound/pdf.html");
    h.lookUp("exe");
    QTRY_VERIFY_WITH_TIMEOUT(h.view() && h.view()->url() == exe, loadTimeout);
    h.lookUp("pdf");
    QTRY_COMPARE_WITH_TIMEOUT(h.view()->url(), pdf, loadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(h.view()->focusProxy(), loadTimeout);
    h.text1()->setText("pd"); // typed since, not looked up
    const auto step = [&](Qt::MouseButton button, Qt::Key key) {
        if (mouse) {
            QTest::mouseClick(h.text1(), button);
        } else {
            QTest::keyClick(h.text1(), key, Qt::AltModifier);
        }
    };
    step(Qt::BackButton, Qt::Key_Left);
    QTRY_COMPARE_WITH_TIMEOUT(h.view()->url(), exe, loadTimeout);
    step(Qt::ForwardButton, Qt::Key_Right);
    QTRY_COMPARE_WITH_TIMEOUT(h.view()->url(), pdf, loadTimeout);
    QCOMPARE(h.text1()->text(), QStringLiteral("pd"));
}

void TestForm1Web::paneDoesNotTakeTheFocus() {
    Harness h;
    QVERIFY(h.show());
    // The first character typed loads the engine, in the middle of typing.
    QTest::keyClicks(h.text1(), "e");
    QTRY_VERIFY_WITH_TIMEOUT(h.view(), loadTimeout);
    QTest::keyClicks(h.text1(), "xe");
    // Its drawing surface comes last, and could take the focus as it comes.
    QTRY_VERIFY_WITH_TIMEOUT(h.view()->focusProxy(), loadTimeout);
    runPostedEvents();
    QCOMPARE(QApplication::activeWindow(), &h.form);
    QCOMPARE(QApplication::focusWidget(), h.text1());
    QTest::keyClick(h.text1(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(h.launcher.opened, QList<QUrl>{QUrl(h.server.root() + "/soso/exe.htm")});
}

void TestForm1Web::addressArrivesAsTyped_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("exe") << "exe" << QByteArray("/filefound/exe.html");
    QTest::newRow("dot kept") << ".exe" << QByteArray("/filefound/.exe.html");
    QTest::newRow("case kept") << "EXE" << QByteArray("/filefound/EXE.html");
    QTest::newRow("one blank") << " " << QByteArray("/filefound/%20.html");
    QTest::newRow("delimiters stay in the segment")
        << "a/b?c#d%e\"f\\g" << QByteArray("/filefound/a%2Fb%3Fc%23d%25e%22f%5Cg.html");
    QTest::newRow("dot segments cannot climb")
        << "../../x" << QByteArray("/filefound/..%2F..%2Fx.html");
    QTest::newRow("CJK") << "文档" << QByteArray("/filefound/%E6%96%87%E6%A1%A3.html");
}

void TestForm1Web::addressArrivesAsTyped() {
    QFETCH(QString, text);
    QFETCH(QByteArray, target);

    Harness h;
    QVERIFY(h.show());
    h.lookUp(text);
    QTRY_VERIFY2_WITH_TIMEOUT(h.server.wasRequested(target),
                              qPrintable(h.server.targets().join(' ')), loadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(h.view()->title(), "page " + QString::fromLatin1(target),
                              loadTimeout);
    QCOMPARE(h.text1()->text(), text);
    QVERIFY(h.messenger.messages.isEmpty());
}

void TestForm1Web::secondLookupReplacesTheFirst() {
    Harness h;
    QVERIFY(h.show());
    h.lookUp(QStringLiteral("exe"));
    QTRY_COMPARE_WITH_TIMEOUT(h.view()->title(), QStringLiteral("page /filefound/exe.html"),
                              loadTimeout);
    h.text1()->setText(QStringLiteral("pdf"));
    QTest::mouseClick(h.command1(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(h.view()->title(), QStringLiteral("page /filefound/pdf.html"),
                              loadTimeout);
    QCOMPARE(h.view()->url(), QUrl(h.server.root() + "/filefound/pdf.html"));
}

void TestForm1Web::lookupBeforeThePaneIsReady() {
    Harness h;
    h.lookUp(QStringLiteral("early"));
    QVERIFY(h.show());
    QTRY_VERIFY_WITH_TIMEOUT(h.server.wasRequested("/filefound/early.html"), loadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(h.view()->title(), QStringLiteral("page /filefound/early.html"),
                              loadTimeout);
}

void TestForm1Web::emptyInputLoadsNothing() {
    Harness h;
    QVERIFY(h.show());
    QTest::keyClick(h.text1(), Qt::Key_Return);
    QCOMPARE(h.messenger.messages.size(), 1);
    runPostedEvents();
    QVERIFY(h.server.targets().isEmpty());
    QVERIFY(!h.view()); // Nothing to show, so the engine is not even loaded.
}

// The engine takes a dropped file as a page to open; the window must get it
// instead. Qt hands a drop to the widget under the pointer or, when that one
// does not take drops, to the nearest of its parents that does.
void TestForm1Web::dropOnThePaneReachesTheWindow() {
    Harness h;
    QVERIFY(h.show());
    h.lookUp(QStringLiteral("pdf"));
    QTRY_COMPARE_WITH_TIMEOUT(h.view() ? h.view()->title() : QString(),
                              QStringLiteral("page /filefound/pdf.html"), loadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(h.view()->focusProxy(), loadTimeout);
    const QPoint centre = h.view()->mapTo(&h.form, h.view()->rect().center());
    QWidget* target = h.form.childAt(centre);
    QVERIFY(target);
    while (!target->isWindow() && !target->acceptDrops()) {
        target = target->parentWidget();
    }
    QCOMPARE(target, &h.form);
}

QTEST_MAIN(TestForm1Web)
#include "tst_form1_web.moc"

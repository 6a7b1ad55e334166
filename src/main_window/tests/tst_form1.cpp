#include "fakeservices.h"
#include "form1.h"
#include "template.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <random>

namespace {

const QString site = QStringLiteral("http://lookup.test");

// A main window over recording stand-ins for the platform.
struct Harness : FakeServices {
    Form1 form{services(identity::Sites{site, QStringLiteral("http://search.test"),
                                        QStringLiteral("http://forum.test")})};

    template <typename T = QWidget> T* child(const char* name) const {
        auto* widget = form.findChild<T*>(QString::fromLatin1(name));
        if (!widget) {
            qFatal("no control %s", name);
        }
        return widget;
    }
    QAction* action(const char* name) const { return child<QAction>(name); }
    QLineEdit* text1() const { return child<QLineEdit>("Text1"); }

    bool showActive() {
        form.show();
        QApplication::setActiveWindow(&form);
        return QTest::qWaitForWindowActive(&form);
    }
};

enum class Expect { Embedded, External, Forum, Exit };

} // namespace

Q_DECLARE_METATYPE(Expect)
Q_DECLARE_METATYPE(std::function<void(Harness&)>)

class TestForm1 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void window();
    void controls_data();
    void controls();
    void controlsDoNotOverlap();
    void promptFitsItsLabel();
    void menus_data();
    void menus();
    void focusStartsInText1();
    void tabOrder_data();
    void tabOrder();
    void commands_data();
    void commands();
    void emptyInputIsRefused_data();
    void emptyInputIsRefused();
    void enterIsSwallowed();
    void escapeRunsNothing();
    void browserFailureIsSurvived();
    void paneFailureIsReported();
    void closingEndsTheProcess();
    void exitChosenByItsAccessKey();
    void text1HasNoLengthLimit();
    void troubleshootingWindowOpensOnce_data();
    void troubleshootingWindowOpensOnce();
    void troubleshootingWindowReopensFresh();
    void aboutWindowLoadsOncePerOpening();
    void fileOnCommandLine_data();
    void fileOnCommandLine();
    void droppedFilesAreListedByType();
    void ownPagesWearTheSitesStyle_data();
    void ownPagesWearTheSitesStyle();
};

namespace {

QList<QWidget*> openWindows(const char* name) {
    QList<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String(name) && w->isVisible()) {
            found << w;
        }
    }
    return found;
}

} // namespace

void TestForm1::troubleshootingWindowOpensOnce_data() {
    QTest::addColumn<std::function<void(Harness&)>>("open");

    using Act = std::function<void(Harness&)>;
    QTest::newRow("疑难解答 button")
        << Act([](Harness& h) { QTest::mouseClick(h.child("Command2"), Qt::LeftButton); });
    QTest::newRow("F1") << Act([](Harness& h) { QTest::keyClick(h.text1(), Qt::Key_F1); });
    QTest::newRow("menu item") << Act([](Harness& h) { h.action("ynjd")->trigger(); });
}

void TestForm1::troubleshootingWindowOpensOnce() {
    QFETCH(std::function<void(Harness&)>, open);

    Harness h;
    QVERIFY(h.showActive());
    open(h);
    QCOMPARE(openWindows("Form2").size(), 1);
    QWidget* form2 = openWindows("Form2").first();
    QVERIFY(!form2->parentWidget());

    // Asked again while open, perhaps from behind the main window: the same one.
    QVERIFY(h.showActive());
    open(h);
    QCOMPARE(openWindows("Form2"), QList<QWidget*>{form2});

    // The main window stays usable beside it.
    QVERIFY(h.showActive());
    h.text1()->setText(QStringLiteral("exe"));
    QTest::keyClick(h.text1(), Qt::Key_Return);
    QCOMPARE(h.navigations.size(), 1);
}

void TestForm1::troubleshootingWindowReopensFresh() {
    Harness h;
    QVERIFY(h.showActive());
    h.action("ynjd")->trigger();
    QPointer<QWidget> first = openWindows("Form2").first();
    auto* address = first->findChild<QLineEdit*>(QStringLiteral("Text1"));
    address->setText(QStringLiteral("changed"));
    QTest::mouseClick(first->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    QTRY_VERIFY(first.isNull());
    QVERIFY(openWindows("Form2").isEmpty());

    h.action("ynjd")->trigger();
    QCOMPARE(openWindows("Form2").size(), 1);
    QCOMPARE(openWindows("Form2").first()->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(),
             QStringLiteral("http://forum.test"));
}

void TestForm1::initTestCase() {
    identity::applyLanguage(*qApp);
}

void TestForm1::window() {
    Harness h;
    QVERIFY(h.showActive());
    QCOMPARE(h.form.windowTitle(), QStringLiteral("ZorvQuelvix 2.0"));

    const int menuBottom = h.form.menuBar()->geometry().bottom() + 1;
    QCOMPARE(h.form.centralWidget()->geometry(), QRect(0, menuBottom, 561, 393));
    QCOMPARE(h.form.minimumSize(), h.form.maximumSize());

    const Qt::WindowFlags flags = h.form.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!h.form.windowIcon().isNull());
}

void TestForm1::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("rect");

    QTest::newRow("prompt") << "Label1"
                            << "QLabel"
                            << "请输入文件格式(例：“exe”，不用输入“.”)：" << QRect(8, 8, 265, 17);
    QTest::newRow("extension box") << "Text1"
                                   << "QLineEdit"
                                   << "" << QRect(16, 32, 457, 18);
    QTest::newRow("look up") << "Command1"
                             << "QPushButton"
                             << "查询" << QRect(480, 32, 65, 17);
    QTest::newRow("troubleshooting") << "Command2"
                                     << "QPushButton"
                                     << "疑难解答" << QRect(16, 56, 161, 25);
    QTest::newRow("exit") << "Command3"
                          << "QPushButton"
                          << "退出" << QRect(384, 56, 161, 25);
    QTest::newRow("forum") << "Command4"
                           << "QPushButton"
                           << "访问论坛" << QRect(200, 56, 161, 25);
    QTest::newRow("pane") << "WEB1"
                          << "QWidget"
                          << "" << QRect(8, 88, 545, 297);
}

void TestForm1::controls() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QRect, rect);

    Harness h;
    QVERIFY(h.showActive());
    auto* widget = h.form.centralWidget()->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), kind);
    QCOMPARE(widget->geometry(), rect);
    QVERIFY(widget->isVisible());
    QString shown;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        shown = label->text();
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        shown = edit->text();
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        shown = button->text();
        QVERIFY2(!button->isDefault() && !button->autoDefault(), "no default button");
    }
    QCOMPARE(shown, text);
}

void TestForm1::controlsDoNotOverlap() {
    Harness h;
    QVERIFY(h.showActive());
    const QList<QWidget*> controls =
        h.form.centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(controls.size(), 7);
    for (qsizetype i = 0; i < controls.size(); ++i) {
        QVERIFY(h.form.centralWidget()->rect().contains(controls[i]->geometry()));
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                     qPrintable(controls[i]->objectName() + " / " + controls[j]->objectName()));
        }
    }
}

void TestForm1::promptFitsItsLabel() {
    Harness h;
    auto* label = h.child<QLabel>("Label1");
    QCOMPARE(label->font().family(), QStringLiteral("Noto Sans Mono CJK SC"));
    QCOMPARE(QFontInfo(label->font()).family(), QStringLiteral("Noto Sans Mono CJK SC"));
    QCOMPARE(label->fontMetrics().horizontalAdvance(label->text()), 264);
    QVERIFY(label->fontMetrics().height() <= label->height());
}

void TestForm1::menus_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("shortcuts");

    QTest::newRow("file") << "file"
                          << "文件" << QStringList{"退出 Alt+&F4"} << QStringList{""};
    QTest::newRow("tools") << "edit"
                           << "工具" << QStringList{"查询"} << QStringList{"Ctrl+S"};
    QTest::newRow("help") << "help"
                          << "帮助"
                          << QStringList{"疑难解答", "访问Zorv电子科技论坛", "-", "关于..."}
                          << QStringList{"F1", "Ctrl+D", "", "Ctrl+H"};
}

void TestForm1::menus() {
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QStringList, items);
    QFETCH(QStringList, shortcuts);

    Harness h;
    QStringList bar;
    for (QAction* action : h.form.menuBar()->actions()) {
        bar << action->text();
    }
    QCOMPARE(bar, (QStringList{"文件", "工具", "帮助"}));

    auto* drop = h.child<QMenu>(menu.toLatin1());
    QCOMPARE(drop->title(), title);
    QStringList texts, keys;
    for (QAction* action : drop->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        keys << action->shortcut().toString(QKeySequence::PortableText);
        QVERIFY(action->isEnabled() && action->isVisible() && !action->isChecked());
    }
    QCOMPARE(texts, items);
    QCOMPARE(keys, shortcuts);
}

void TestForm1::focusStartsInText1() {
    Harness h;
    QVERIFY(h.showActive());
    QCOMPARE(QApplication::focusWidget(), h.text1());
    QVERIFY(h.text1()->text().isEmpty());
    QVERIFY(h.navigations.isEmpty());
}

void TestForm1::tabOrder_data() {
    QTest::addColumn<int>("presses");
    QTest::addColumn<bool>("backwards");
    QTest::addColumn<QString>("lands");

    QTest::newRow("1 Tab") << 1 << false << "Command1";
    QTest::newRow("2 Tabs") << 2 << false << "Command2";
    QTest::newRow("3 Tabs reach exit, not forum") << 3 << false << "Command3";
    QTest::newRow("4 Tabs") << 4 << false << "Command4";
    QTest::newRow("5 Tabs reach the pane") << 5 << false << "WEB1";
    QTest::newRow("6 Tabs wrap around") << 6 << false << "Text1";
    QTest::newRow("Shift+Tab goes back to the pane") << 1 << true << "WEB1";
    QTest::newRow("2 Shift+Tabs") << 2 << true << "Command4";
}

void TestForm1::tabOrder() {
    QFETCH(int, presses);
    QFETCH(bool, backwards);
    QFETCH(QString, lands);

    Harness h;
    QVERIFY(h.showActive());
    for (int i = 0; i < presses; ++i) {
        QTest::keyClick(QApplication::focusWidget(), backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                        backwards ? Qt::ShiftModifier : Qt::NoModifier);
    }
    QVERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), lands);
}

void TestForm1::commands_data() {
    QTest::addColumn<std::function<void(Harness&)>>("act");
    QTest::addColumn<Expect>("expect");

    using Act = std::function<void(Harness&)>;
    QTest::newRow("查询 button") << Act([](Harness& h) {
        QTest::mouseClick(h.child("Command1"), Qt::LeftButton);
    }) << Expect::Embedded;
    QTest::newRow("Enter in Text1")
        << Act([](Harness& h) { QTest::keyClick(h.text1(), Qt::Key_Return); }) << Expect::Embedded;
    QTest::newRow("keypad Enter in Text1")
        << Act([](Harness& h) { QTest::keyClick(h.text1(), Qt::Key_Enter, Qt::KeypadModifier); })
        << Expect::Embedded;
    QTest::newRow("查询 item") << Act([](Harness& h) { h.action("so")->trigger(); })
                               << Expect::External;
    QTest::newRow("Ctrl+S") << Act([](Harness& h) {
        QTest::keyClick(h.text1(), Qt::Key_S, Qt::ControlModifier);
    }) << Expect::External;
    QTest::newRow("访问论坛 button")
        << Act([](Harness& h) { QTest::mouseClick(h.child("Command4"), Qt::LeftButton); })
        << Expect::Forum;
    QTest::newRow("forum item") << Act([](Harness& h) { h.action("toURL")->trigger(); })
                                << Expect::Forum;
    QTest::newRow("Ctrl+D") << Act([](Harness& h) {
        QTest::keyClick(h.text1(), Qt::Key_D, Qt::ControlModifier);
    }) << Expect::Forum;
    QTest::newRow("退出 button") << Act([](Harness& h) {
        QTest::mouseClick(h.child("Command3"), Qt::LeftButton);
    }) << Expect::Exit;
    QTest::newRow("exit item") << Act([](Harness& h) { h.action("exit")->trigger(); })
                               << Expect::Exit;
}

void TestForm1::commands() {
    QFETCH(std::function<void(Harness&)>, act);
    QFETCH(Expect, expect);

    Harness h;
    QVERIFY(h.showActive());
    QTest::keyClicks(h.text1(), "EXE");
    act(h);

    const QList<QUrl> embedded = {QUrl("http://lookup.test/filefound/EXE.html")};
    const QList<QUrl> external = {QUrl("http://search.test/soso/EXE.htm")};
    const QList<QUrl> forum = {QUrl("http://forum.test/")};
    QCOMPARE(h.navigations, expect == Expect::Embedded ? embedded : QList<QUrl>{});
    QCOMPARE(h.launcher.opened, expect == Expect::External ? external
                                : expect == Expect::Forum  ? forum
                                                           : QList<QUrl>{});
    QCOMPARE(h.exits, expect == Expect::Exit ? 1 : 0);
    QVERIFY(h.messenger.messages.isEmpty());
    QCOMPARE(h.text1()->text(), QStringLiteral("EXE"));
}

void TestForm1::emptyInputIsRefused_data() {
    QTest::addColumn<std::function<void(Harness&)>>("act");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("critical");

    using Act = std::function<void(Harness&)>;
    QTest::newRow("查询 button") << Act([](Harness& h) {
        QTest::mouseClick(h.child("Command1"), Qt::LeftButton);
    }) << "错误" << true;
    QTest::newRow("Enter") << Act([](Harness& h) { QTest::keyClick(h.text1(), Qt::Key_Return); })
                           << "错误" << true;
    QTest::newRow("Ctrl+S: application title, no icon")
        << Act([](Harness& h) { QTest::keyClick(h.text1(), Qt::Key_S, Qt::ControlModifier); }) << ""
        << false;
}

void TestForm1::emptyInputIsRefused() {
    QFETCH(std::function<void(Harness&)>, act);
    QFETCH(QString, title);
    QFETCH(bool, critical);

    Harness h;
    QVERIFY(h.showActive());
    act(h);
    QCOMPARE(h.messenger.messages.size(), 1);
    const platform::Message& shown = h.messenger.messages.first();
    QCOMPARE(shown.text, QStringLiteral("请输入文件格式！"));
    QCOMPARE(shown.title, title);
    QCOMPARE(shown.icon == platform::MessageIcon::Critical, critical);
    QVERIFY(h.navigations.isEmpty());
    QVERIFY(h.launcher.opened.isEmpty());
}

void TestForm1::enterIsSwallowed() {
    Harness h;
    QVERIFY(h.showActive());
    QTest::keyClicks(h.text1(), "pdf");
    QTest::keyClick(h.text1(), Qt::Key_Return);
    QTest::keyClick(h.text1(), Qt::Key_Return);
    QCOMPARE(h.text1()->text(), QStringLiteral("pdf"));
    QCOMPARE(h.navigations.size(), 2);
    QCOMPARE(h.navigations.last(), QUrl("http://lookup.test/filefound/pdf.html"));
}

void TestForm1::escapeRunsNothing() {
    Harness h;
    QVERIFY(h.showActive());
    QTest::keyClicks(h.text1(), "exe");
    QTest::keyClick(h.text1(), Qt::Key_Escape);
    QVERIFY(h.navigations.isEmpty());
    QVERIFY(h.launcher.opened.isEmpty());
    QVERIFY(h.messenger.messages.isEmpty());
    QCOMPARE(h.exits, 0);
    QVERIFY(h.form.isVisible());
}

void TestForm1::browserFailureIsSurvived() {
    Harness h;
    QVERIFY(h.showActive());
    QTest::keyClicks(h.text1(), "exe");
    h.launcher.failure = QStringLiteral("无法启动 xdg-open：没有这个程序");
    h.action("so")->trigger();

    QCOMPARE(h.messenger.messages.size(), 1);
    QCOMPARE(h.messenger.messages[0].text, *h.launcher.failure);
    QCOMPARE(h.messenger.messages[0].title, QString());
    QVERIFY(h.messenger.messages[0].icon == platform::MessageIcon::Critical);
    QCOMPARE(h.text1()->text(), QStringLiteral("exe"));
    QCOMPARE(h.exits, 0);

    h.launcher.failure.reset();
    h.action("toURL")->trigger();
    QCOMPARE(h.launcher.opened.size(), 2);
    QCOMPARE(h.messenger.messages.size(), 1);
    QTest::keyClick(h.text1(), Qt::Key_Return);
    QCOMPARE(h.navigations.size(), 1);
}

// The pane tells its own failures; the window neither tells them again nor
// stops working.
void TestForm1::paneFailureIsReported() {
    FakeServices fakes;
    Form1 form(fakes.withPane(
        [&fakes](QWidget* host) {
            struct FailingPane final : platform::WebPane {
                QWidget* host;
                platform::Messenger& messenger;
                FailingPane(QWidget* h, platform::Messenger& m)
                    : host(h)
                    , messenger(m) {}
                void navigate(const QUrl&, const platform::PageFile&) override {
                    messenger.show(
                        host->window(),
                        {QStringLiteral("网页显示进程崩溃"), {}, platform::MessageIcon::Critical});
                }
                void showPage(const QString&, const QUrl&) override {}
                void onAction(platform::ActionHandler) override {}
            };
            return std::unique_ptr<platform::WebPane>(
                std::make_unique<FailingPane>(host, fakes.messenger));
        },
        identity::sites()));
    auto* text1 = form.findChild<QLineEdit*>(QStringLiteral("Text1"));
    text1->setText(QStringLiteral("exe"));
    QTest::keyClick(text1, Qt::Key_Return);
    QCOMPARE(fakes.messenger.messages.size(), 1);
    QCOMPARE(fakes.messenger.messages[0].text, QStringLiteral("网页显示进程崩溃"));
    QVERIFY(fakes.messenger.messages[0].icon == platform::MessageIcon::Critical);
    QCOMPARE(fakes.messenger.messages[0].title, QString());
    QCOMPARE(fakes.exits, 0);
    QCOMPARE(text1->text(), QStringLiteral("exe"));
}

void TestForm1::closingEndsTheProcess() {
    Harness h;
    QVERIFY(h.showActive());
    QVERIFY(h.form.close());
    QCOMPARE(h.exits, 1);
}

void TestForm1::exitChosenByItsAccessKey() {
    Harness h;
    QVERIFY(h.showActive());
    auto* file = h.child<QMenu>("file");
    file->popup(h.form.mapToGlobal(QPoint(0, 0)));
    QVERIFY(QTest::qWaitForWindowExposed(file));
    QTest::keyClick(file, Qt::Key_F);
    QTRY_COMPARE(h.exits, 1);
}

void TestForm1::text1HasNoLengthLimit() {
    Harness h;
    const QString text(100000, QChar(u'格'));
    h.text1()->setText(text);
    QCOMPARE(h.text1()->text().size(), text.size());
    QTest::mouseClick(h.child("Command1"), Qt::LeftButton);
    QCOMPARE(h.navigations.size(), 1);
    QCOMPARE(h.navigations[0].path().size(), 11 + 100000 + 5);
}

void TestForm1::aboutWindowLoadsOncePerOpening() {
    Harness h;
    QVERIFY(h.showActive());
    QTest::keyClick(h.text1(), Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(openWindows("frmAbout").size(), 1);
    QPointer<QWidget> about = openWindows("frmAbout").first();
    QCOMPARE(about->windowTitle(), QStringLiteral("关于 Dornavel"));
    QVERIFY(!about->parentWidget());

    // Open again while open: the same window, its load not run again.
    about->setWindowTitle(QStringLiteral("changed"));
    QVERIFY(h.showActive());
    h.action("about")->trigger();
    QCOMPARE(openWindows("frmAbout"), QList<QWidget*>{about.data()});
    QCOMPARE(about->windowTitle(), QStringLiteral("changed"));

    // Closed and opened again: made afresh and loaded again.
    QTest::keyClick(about, Qt::Key_Escape);
    QTRY_VERIFY(about.isNull());
    h.action("about")->trigger();
    QCOMPARE(openWindows("frmAbout").size(), 1);
    QCOMPARE(openWindows("frmAbout").first()->windowTitle(), QStringLiteral("关于 Dornavel"));
}

namespace {

// The start of this very test program: a Linux program, whatever it is named.
QByteArray programHead() {
    QFile self(QCoreApplication::applicationFilePath());
    return self.open(QIODevice::ReadOnly) ? self.read(4096) : QByteArray();
}

QByteArray writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(file.fileName()));
    }
    return QFile::encodeName(file.fileName());
}

} // namespace

// The address says what the content is and what the name gets wrong, never
// the name: the site may not be on this machine.
void TestForm1::fileOnCommandLine_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query"); // a start; empty: the pane's own page

    const QByteArray pdf("%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n");
    QTest::newRow("program named 发票.pdf") << QStringLiteral("发票.pdf") << programHead() << "pdf"
                                            << "/filefound/pdf.html"
                                            << "type=application/x-";
    QTest::newRow("PDF without extension") << QStringLiteral("季度报告") << pdf << ""
                                           << "/filefound/.html"
                                           << "type=application/pdf";
    QTest::newRow("true PDF, letter case kept") << QStringLiteral("合同.PDF") << pdf << "PDF"
                                                << "/filefound/PDF.html"
                                                << "type=application/pdf";
    QTest::newRow("empty file") << QStringLiteral("空.pdf") << QByteArray() << "pdf"
                                << ""
                                << "";
    // The name alone makes no PDF: the page is the extension's, under a
    // notice that the content bears nothing out.
    QByteArray noise(64 * 1024, Qt::Uninitialized);
    std::mt19937 bits(20240517);
    std::generate(noise.begin(), noise.end(), [&bits] { return char(bits() >> 24); });
    QTest::newRow("random bytes named rand.pdf") << QStringLiteral("rand.pdf") << noise << "pdf"
                                                 << "/filefound/pdf.html"
                                                 << "notice=unconfirmed";
    // Only what could be an extension reaches the site.
    QTest::newRow("a sentence after the dot")
        << QStringLiteral("report.salary-of-zhang-san-2024") << pdf << ""
        << "/filefound/.html"
        << "type=application/pdf";
}

void TestForm1::fileOnCommandLine() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, text1);
    QFETCH(QString, path);
    QFETCH(QString, query);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray file = writeFile(dir, name, content);

    Harness h;
    h.form.openFiles({file});
    // At once, before the file is read: the pane says it is being read.
    QCOMPARE(h.pages.size(), 1);
    QVERIFY(h.pages.first().html.contains(QStringLiteral("正在读取")));
    QVERIFY(h.pages.first().site.isEmpty());

    if (path.isEmpty()) {
        QTRY_COMPARE(h.pages.size(), 2);
        QCOMPARE(h.text1()->text(), text1);
        QVERIFY(h.navigations.isEmpty());
        QVERIFY2(h.pages.last().site.isEmpty(), "a file that cannot be told goes to no site");
        return;
    }
    QTRY_COMPARE(h.navigations.size(), 1);
    QCOMPARE(h.text1()->text(), text1);
    QCOMPARE(h.pages.size(), 1);
    const QUrl address = h.navigations.first();
    QCOMPARE(address.host(), QStringLiteral("lookup.test"));
    QCOMPARE(address.path(), path);
    QVERIFY2(address.query().startsWith(query), qPrintable(address.toString()));
    const QString sent = address.toString(QUrl::FullyEncoded);
    const QString stem = name.section(u'.', 0, 0);
    for (const QString& secret :
         {stem, QString::fromLatin1(QUrl::toPercentEncoding(stem)), QDir(dir.path()).dirName()}) {
        QVERIFY2(!sent.contains(secret), qPrintable(sent));
    }
    if (name.endsWith(QLatin1String(".pdf")) && content.startsWith("\x7f"
                                                                   "ELF")) {
        QVERIFY2(address.query().contains(QLatin1String("notice=program")), qPrintable(sent));
    }
}

// Several files dropped on the window: the pane lists one line per type, each
// linking to the site's page for a file of that type.
void TestForm1::droppedFilesAreListedByType() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray pdf("%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n");
    QList<QUrl> urls;
    for (const auto& [name, content] :
         QList<std::pair<QString, QByteArray>>{{QStringLiteral("a.pdf"), pdf},
                                               {QStringLiteral("b.pdf"), pdf},
                                               {QStringLiteral("发票.pdf"), programHead()}}) {
        urls << QUrl::fromLocalFile(QFile::decodeName(writeFile(dir, name, content)));
    }
    urls << QUrl(QStringLiteral("https://example.org/not-a-file.pdf"));

    Harness h;
    QVERIFY(h.showActive());
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&h.form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&h.form, &drop);

    QTRY_COMPARE(h.pages.size(), 2); // the reading page, then the list
    QCOMPARE(h.text1()->text(), QStringLiteral("pdf"));
    QVERIFY(h.navigations.isEmpty());
    QCOMPARE(h.pages.last().site, QUrl(site + QStringLiteral("/")));
    const QString& page = h.pages.last().html;
    QCOMPARE(page.count(QLatin1String("<li>")), 2);
    QCOMPARE(page.count(QLatin1String("href=\"/filefound/pdf.html?type=application/pdf\"")), 1);
    QVERIFY2(page.contains(QLatin1String("notice=program")), qPrintable(page));
    QVERIFY(!page.contains(QLatin1String("not-a-file")));
}

// The pages the window makes itself read like the site's pages in the pane:
// the site's one style sheet, its face and its compact body.
void TestForm1::ownPagesWearTheSitesStyle_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QByteArrayList>("contents");
    QTest::addColumn<int>("shown"); // which page: the first, while reading, or the second
    const QByteArray pdf("%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n");
    QTest::newRow("reading") << QStringList{QStringLiteral("空.pdf")} << QByteArrayList{{}} << 0;
    QTest::newRow("a file that cannot be told")
        << QStringList{QStringLiteral("空.pdf")} << QByteArrayList{{}} << 1;
    QTest::newRow("several files") << QStringList{QStringLiteral("a.pdf"), QStringLiteral("b")}
                                   << QByteArrayList{pdf, {}} << 1;
}

void TestForm1::ownPagesWearTheSitesStyle() {
    QFETCH(QStringList, names);
    QFETCH(QByteArrayList, contents);
    QFETCH(int, shown);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QList<QByteArray> files;
    for (qsizetype i = 0; i < names.size(); ++i) {
        files << writeFile(dir, names[i], contents[i]);
    }
    Harness h;
    h.form.openFiles(files);
    QTRY_COMPARE(h.pages.size(), 2);
    const QString& page = h.pages[shown].html;
    const QString style = QString::fromUtf8(templates::styleSheet());
    QVERIFY(!style.isEmpty());
    QVERIFY2(page.contains(QStringLiteral("<style>") + style + QStringLiteral("</style>")),
             qPrintable(page));
    QVERIFY2(page.contains(QLatin1String("<body class=\"compact\">")), qPrintable(page));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

#include "cellgridlabel.h"
#include "fakes.h"
#include "frmabout.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

const QString forum = QStringLiteral("http://forum.test");

// An About window over an empty registry, so the system information button
// always ends in its message.
struct Harness {
    MemoryRegistry registry;
    RecordingStarter processes;
    RecordingMessenger messenger;
    QPointer<frmAbout> about = new frmAbout(forum, {registry, processes, messenger});

    ~Harness() { delete about; }
    template <typename T = QWidget> T* child(const char* name) const {
        return about->findChild<T*>(QString::fromLatin1(name));
    }
    bool showActive() const {
        about->show();
        QApplication::setActiveWindow(about);
        return QTest::qWaitForWindowActive(about);
    }
    QString text(const char* name) const {
        if (auto* label = child<QLabel>(name)) {
            return label->text();
        }
        return child<CellGridLabel>(name)->text();
    }
};

} // namespace

class TestFrmAbout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { identity::applyLanguage(*qApp); }
    void textsAfterLoad();
    void versionText_data();
    void versionText();
    void window();
    void controls_data();
    void controls();
    void descriptionWrapsToThreeLines();
    void keysThatClose_data();
    void keysThatClose();
    void systemInformationKeepsTheWindowOpen_data();
    void systemInformationKeepsTheWindowOpen();
};

void TestFrmAbout::textsAfterLoad() {
    Harness h;
    QCOMPARE(h.about->windowTitle(), QStringLiteral("关于 Dornavel"));
    QCOMPARE(h.text("lblVersion"), QStringLiteral("版本 2.0.0"));
    QCOMPARE(h.text("lblTitle"), QStringLiteral("Dornavel"));
    QCOMPARE(h.text("Label2"), QStringLiteral("论坛：http://forum.test"));
    QCOMPARE(h.text("lblDescription"), QStringLiteral("制作者：Zorv"));

    // Load runs once per window: a changed caption stays until the window is made anew.
    h.about->setWindowTitle(QStringLiteral("x"));
    QVERIFY(h.showActive());
    QCOMPARE(h.about->windowTitle(), QStringLiteral("x"));
}

void TestFrmAbout::versionText_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("text");

    QTest::newRow("2.0.0") << 2 << 0 << 0 << "版本 2.0.0";
    QTest::newRow("no leading zeros or blanks") << 2 << 10 << 305 << "版本 2.10.305";
}

void TestFrmAbout::versionText() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, text);
    QCOMPARE(versionLabelText({major, minor, revision}), text);
}

void TestFrmAbout::window() {
    Harness h;
    QVERIFY(h.showActive());
    QCOMPARE(h.about->size(), QSize(349, 237));
    QCOMPARE(h.about->minimumSize(), h.about->maximumSize());
    QVERIFY(!h.about->parentWidget());
    QCOMPARE(h.about->windowType(), Qt::Tool); // kept off the taskbar
    const Qt::WindowFlags flags = h.about->windowFlags();
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(QApplication::focusWidget(), h.child("cmdOK"));
    QVERIFY(h.child<QPushButton>("cmdOK")->isDefault());
    QCOMPARE(h.child<QPushButton>("cmdSysInfo")->text(), QStringLiteral("系统信息(&S)..."));

    auto* title = h.child<QLabel>("lblTitle");
    QCOMPARE(QFontInfo(title->font()).family(), QStringLiteral("Noto Serif CJK SC"));
    QCOMPARE(title->font().pointSizeF(), 14.25);
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(h.child("lblDisclaimer")->palette().color(QPalette::WindowText), QColor(Qt::black));

    const QPixmap picture = h.child<QLabel>("picIcon")->pixmap();
    QCOMPARE(picture.size(), QSize(48, 48));
}

void TestFrmAbout::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");

    QTest::newRow("picture") << "picIcon" << QRect(0, 0, 52, 52);
    QTest::newRow("OK") << "cmdOK" << QRect(240, 175, 100, 23);
    QTest::newRow("system information") << "cmdSysInfo" << QRect(240, 205, 99, 23);
    QTest::newRow("forum") << "Label2" << QRect(64, 96, 257, 17);
    QTest::newRow("description") << "Label1" << QRect(64, 120, 257, 41);
    QTest::newRow("gray line") << "Line1_1" << QRect(6, 163, 339, 1);
    QTest::newRow("maker") << "lblDescription" << QRect(64, 72, 259, 19);
    QTest::newRow("title") << "lblTitle" << QRect(64, 8, 259, 32);
    QTest::newRow("white line") << "Line1_0" << QRect(7, 164, 338, 2);
    QTest::newRow("version") << "lblVersion" << QRect(64, 48, 259, 15);
    QTest::newRow("disclaimer") << "lblDisclaimer" << QRect(17, 175, 210, 55);
}

void TestFrmAbout::controls() {
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    Harness h;
    QWidget* widget = h.about->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), rect);
}

void TestFrmAbout::descriptionWrapsToThreeLines() {
    Harness h;
    QCOMPARE(h.child<CellGridLabel>("Label1")->lines().size(), 3);
    QCOMPARE(h.child<CellGridLabel>("lblDisclaimer")->lines().size(), 2);
    for (const char* single : {"Label2", "lblDescription", "lblVersion"}) {
        QCOMPARE(h.child<CellGridLabel>(single)->lines().size(), 1);
    }
}

void TestFrmAbout::keysThatClose_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("closes");

    QTest::newRow("Esc on OK") << "cmdOK" << int(Qt::Key_Escape) << true;
    QTest::newRow("Esc on system information") << "cmdSysInfo" << int(Qt::Key_Escape) << true;
    QTest::newRow("Enter on OK") << "cmdOK" << int(Qt::Key_Return) << true;
    QTest::newRow("Space on OK") << "cmdOK" << int(Qt::Key_Space) << true;
    QTest::newRow("Enter on system information") << "cmdSysInfo" << int(Qt::Key_Return) << false;
}

void TestFrmAbout::keysThatClose() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(bool, closes);

    Harness h;
    QVERIFY(h.showActive());
    h.child(focus.toLatin1())->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    if (closes) {
        QTRY_VERIFY(h.about.isNull());
    } else {
        QVERIFY(h.about && h.about->isVisible());
        QCOMPARE(h.messenger.messages.size(), 1); // the tool was looked for
    }
}

void TestFrmAbout::systemInformationKeepsTheWindowOpen_data() {
    QTest::addColumn<bool>("toolFound");
    QTest::newRow("tool started") << true;
    QTest::newRow("tool unavailable") << false;
}

void TestFrmAbout::systemInformationKeepsTheWindowOpen() {
    QFETCH(bool, toolFound);

    Harness h;
    if (toolFound) {
        h.registry.set("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                       {platform::Registry::typeString, QByteArray("/usr/bin/tool", 14)});
    }
    QVERIFY(h.showActive());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
    // A mnemonic presses its button with a short animation.
    QTRY_COMPARE(h.processes.started.size() + h.messenger.messages.size(), 1);
    QVERIFY(h.about && h.about->isVisible());
    QCOMPARE(h.processes.started.size(), toolFound ? 1 : 0);
    QCOMPARE(h.messenger.messages.size(), toolFound ? 0 : 1);
    if (!toolFound) {
        QCOMPARE(h.messenger.messages[0].text, QStringLiteral("此时系统信息不可用"));
    }
}

QTEST_MAIN(TestFrmAbout)
#include "tst_frmabout.moc"

// The action links' work, through the module the app loads for it, on a real
// desktop database: GIO reading desktop files and mimeapps.list from folders
// of the test's own.
#include "fakes.h"
#include "webpane.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

namespace {

constexpr char testType[] = "application/x-quelvix-test";
// A type the desktop opens with quelvix-test-a only because it is the first
// program to name it: nobody chose it.
constexpr char fallbackType[] = "application/x-quelvix-fallback";

// A program that writes each argument it is given on a line of its own.
void writeProgram(const QString& dataHome, const QString& id, const QString& record) {
    const QString script = dataHome + "/" + id + ".sh";
    QFile program(script);
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.write("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record.toUtf8() + "'\n");
    program.close();
    program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
    QFile desktop(dataHome + "/applications/" + id);
    QVERIFY(desktop.open(QIODevice::WriteOnly));
    desktop.write("[Desktop Entry]\nType=Application\nName=" + id.toUtf8() + "\nExec=" +
                  script.toUtf8() + " %f\nMimeType=" + testType + ";" + fallbackType + ";\n");
}

QString gioMime() {
    QProcess gio;
    gio.start("gio", {"mime", testType});
    gio.waitForFinished();
    return QString::fromUtf8(gio.readAllStandardOutput());
}

// The person's choices for the type, each under its group, as the file
// holds them: what an undo must put back.
QStringList choicesInFile(const QString& path, const QByteArray& type = testType) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QStringList found;
    QString group;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith('[')) {
            group = QString::fromUtf8(line);
        } else if (line.startsWith(type + "=")) {
            found << group + " " + QString::fromUtf8(line);
        }
    }
    return found;
}

// A pane's host, shown, with room for the line under the page.
struct Pane {
    Pane() {
        new QVBoxLayout(&host);
        host.show();
    }
    QWidget host;
};

// The page's 设为默认 link for the program and type, followed in the pane.
void chooseDefault(
    platform::Messenger& messenger, Pane& pane, const QString& program, const QString& type,
    std::function<void()> reload = [] {}) {
    platform::pageActions(messenger)({{addresses::Action::SetDefault, program, type, {}, {}},
                                      {},
                                      &pane.host,
                                      &pane.host,
                                      std::move(reload)});
}

QPushButton* barButton(QWidget& host, const QString& text) {
    for (QPushButton* button : host.findChildren<QPushButton*>()) {
        if (button->isVisible() && button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

} // namespace

class TestPageActions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void opensTheFileWithTheProgram_data();
    void opensTheFileWithTheProgram();
    void defaultSetAndUndone_data();
    void defaultSetAndUndone();
    void fallbackChosenWithoutAQuestion();
    void undoLeavesAListItCannotReadAlone();

private:
    QTemporaryDir m_home;
    QString m_record;
};

// Before GIO first looks: it reads the folders once.
void TestPageActions::initTestCase() {
    QVERIFY(m_home.isValid());
    QDir(m_home.path()).mkpath("data/applications");
    QDir(m_home.path()).mkpath("config");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
    m_record = m_home.filePath("arguments");
    writeProgram(m_home.filePath("data"), "quelvix-test-a.desktop", m_record);
    writeProgram(m_home.filePath("data"), "quelvix-test-b.desktop", m_record);
    // What update-desktop-database would write, for the fallback type only.
    QFile cache(m_home.filePath("data/applications/mimeinfo.cache"));
    QVERIFY(cache.open(QIODevice::WriteOnly));
    cache.write(QByteArray("[MIME Cache]\n") + fallbackType + "=quelvix-test-a.desktop;\n");
}

void TestPageActions::opensTheFileWithTheProgram_data() {
    QTest::addColumn<QString>("realKind");
    QTest::addColumn<bool>("goAhead");

    QTest::newRow("a document") << "" << false;
    QTest::newRow("a program named as a document, declined") << "Windows 程序" << false;
    QTest::newRow("a program named as a document, opened anyway") << "Windows 程序" << true;
}

void TestPageActions::opensTheFileWithTheProgram() {
    QFETCH(QString, realKind);
    QFETCH(bool, goAhead);

    QFile::remove(m_record);
    const QString path = m_home.filePath("报告 1.docx");
    QFile(path).open(QIODevice::WriteOnly);
    QWidget host;
    RecordingMessenger messenger;
    messenger.answer = goAhead;
    const platform::ActionHandler act = platform::pageActions(messenger);
    const auto open = [&](const QString& file) {
        act({{addresses::Action::Open, "quelvix-test-a.desktop", {}, {}, {}},
             {QFile::encodeName(file), realKind},
             &host,
             &host,
             [] {
             }});
    };
    open(path);
    QCOMPARE(messenger.questions.size(), realKind.isEmpty() ? 0 : 1);
    if (!realKind.isEmpty()) {
        QVERIFY2(messenger.questions[0].text.contains(realKind),
                 qPrintable(messenger.questions[0].text));
    }
    const bool opened = realKind.isEmpty() || goAhead;
    if (!opened) {
        // What was declined would have come first: another file, let through.
        messenger.answer = true;
        open(m_home.filePath("other"));
    }
    QFile record(m_record);
    QTRY_VERIFY(record.exists() && record.size() > 0);
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(record.readAll()),
             (opened ? path : m_home.filePath("other")) + "\n");
    QVERIFY(messenger.messages.isEmpty());
}

void TestPageActions::defaultSetAndUndone_data() {
    QTest::addColumn<QString>("before");  // the default in effect; empty for none
    QTest::addColumn<QByteArray>("list"); // the person's mimeapps.list; else made by setDefault

    QTest::newRow("from no default") << "" << QByteArray();
    QTest::newRow("from another program") << "quelvix-test-a.desktop" << QByteArray();
    // The undo once cleared every choice the person had made for the type.
    QTest::newRow("the person's other choices for the type kept")
        << "quelvix-test-a.desktop"
        << QByteArray("[Added Associations]\napplication/x-quelvix-test=quelvix-test-a.desktop;\n"
                      "[Removed Associations]\n"
                      "application/x-quelvix-test=quelvix-test-b.desktop;\n");
}

void TestPageActions::defaultSetAndUndone() {
    QFETCH(QString, before);
    QFETCH(QByteArray, list);

    QFile choices(m_home.filePath("config/mimeapps.list"));
    choices.remove();
    if (!list.isEmpty()) {
        QVERIFY(choices.open(QIODevice::WriteOnly));
        choices.write(list);
        choices.close();
    }
    if (list.isEmpty() && !before.isEmpty()) {
        QCOMPARE(QProcess::execute("gio", {"mime", testType, before}), 0);
    }
    const QString was = gioMime();
    const QStringList chosen = choicesInFile(choices.fileName());
    QCOMPARE(was.contains("quelvix-test-a.desktop\n") && was.startsWith("Default"),
             !before.isEmpty());

    Pane pane;
    QWidget& host = pane.host;
    RecordingMessenger messenger;
    messenger.answer = true;
    int reloads = 0;
    chooseDefault(messenger, pane, "quelvix-test-b.desktop", testType, [&reloads] { ++reloads; });
    QCOMPARE(messenger.questions.size(), 1);
    QVERIFY2(messenger.questions[0].text.contains(
                 before.isEmpty() ? QStringLiteral("当前默认：没有默认程序")
                                  : QStringLiteral("当前默认：“quelvix-test-a.desktop”")),
             qPrintable(messenger.questions[0].text));
    QVERIFY2(gioMime().contains("Default application for “application/x-quelvix-test”: "
                                "quelvix-test-b.desktop"),
             qPrintable(gioMime()));
    QCOMPARE(reloads, 1);

    QPushButton* undo = barButton(host, QStringLiteral("撤销"));
    QVERIFY(undo);
    undo->click();
    QCOMPARE(gioMime(), was);
    QCOMPARE(choicesInFile(choices.fileName()), chosen);
    QCOMPARE(reloads, 2);
    QVERIFY(messenger.messages.isEmpty());
}

// 设为默认 on the program the desktop fell back on was once a click that did
// nothing: it was the default already, though nobody had chosen it.
void TestPageActions::fallbackChosenWithoutAQuestion() {
    QFile choices(m_home.filePath("config/mimeapps.list"));
    choices.remove();
    Pane pane;
    RecordingMessenger messenger;
    messenger.answer = false;
    chooseDefault(messenger, pane, "quelvix-test-a.desktop", fallbackType);
    QCOMPARE(messenger.questions.size(), 0);
    QCOMPARE(
        choicesInFile(choices.fileName(), fallbackType),
        QStringList{
            QStringLiteral("[Default Applications] %1=quelvix-test-a.desktop").arg(fallbackType)}
            << QStringLiteral("[Added Associations] %1=quelvix-test-a.desktop;").arg(fallbackType));
    QPushButton* undo = barButton(pane.host, QStringLiteral("撤销"));
    QVERIFY(undo);
    undo->click();
    QCOMPARE(choicesInFile(choices.fileName(), fallbackType), QStringList());
    QVERIFY(messenger.messages.isEmpty());
}

// A list changed meanwhile into one that cannot be read is the person's
// still: 撤销 says why it cannot, and writes nothing over it.
void TestPageActions::undoLeavesAListItCannotReadAlone() {
    QFile choices(m_home.filePath("config/mimeapps.list"));
    choices.remove();
    Pane pane;
    RecordingMessenger messenger;
    messenger.answer = true;
    chooseDefault(messenger, pane, "quelvix-test-b.desktop", testType);
    const QByteArray unreadable = "the person's own notes, not a key file\n";
    QVERIFY(choices.open(QIODevice::WriteOnly));
    choices.write(unreadable);
    choices.close();
    QPushButton* undo = barButton(pane.host, QStringLiteral("撤销"));
    QVERIFY(undo);
    undo->click();
    QCOMPARE(messenger.messages.size(), 1);
    QVERIFY2(messenger.messages[0].text.startsWith(QStringLiteral("无法恢复原来的默认程序")),
             qPrintable(messenger.messages[0].text));
    QVERIFY(choices.open(QIODevice::ReadOnly));
    QCOMPARE(choices.readAll(), unreadable);
}

QTEST_MAIN(TestPageActions)
#include "tst_pageactions.moc"

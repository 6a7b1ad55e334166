// Files are read off the window's thread: a file on a mount that does not
// answer holds up neither the window nor the end of the program.
#include "fakeservices.h"
#include "form1.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>
#include <vector>

namespace {

// The state of a process's first thread as /proc tells it: 'Z' once it has
// ended while another thread of the process still waits in the kernel,
// 'X' when the process is gone.
char firstThreadState(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/task/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 'X';
    }
    const QByteArray line = stat.readAll();
    const qsizetype name = line.lastIndexOf(')');
    return name < 0 || name + 2 >= line.size() ? '?' : line[name + 2];
}

bool hasEnded(qint64 pid) {
    const char state = firstThreadState(pid);
    return state == 'Z' || state == 'X';
}

} // namespace

class TestFileLookup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void stalledFile_data();
    void stalledFile();

private:
    int stalls(const QString& file) const {
        return int(m_said.count(QStringLiteral(" /%1\n").arg(file).toUtf8()));
    }

    QTemporaryDir m_dir;
    QString m_mount;
    QProcess m_fs;
    QByteArray m_said; // what the file system announced
    QString m_notRun;
    // Apps left with a thread in the file system until it is unmounted.
    std::vector<std::unique_ptr<QProcess>> m_apps;
};

void TestFileLookup::initTestCase() {
    QVERIFY(m_dir.isValid());
    if (QStringLiteral(STALLFS).isEmpty()) {
        m_notRun = QStringLiteral("libfuse3 was not found to build the test's file system");
        return;
    }
    if (!QFile::exists(QStringLiteral("/dev/fuse"))) {
        m_notRun = QStringLiteral("no /dev/fuse on this machine");
        return;
    }
    m_mount = m_dir.filePath(QStringLiteral("mount"));
    QVERIFY(QDir().mkpath(m_mount));
    connect(&m_fs, &QProcess::readyReadStandardOutput, this,
            [this] { m_said += m_fs.readAllStandardOutput(); });
    m_fs.start(QStringLiteral(STALLFS), {QStringLiteral("-f"), m_mount});
    const QString ok = m_mount + QStringLiteral("/ok.pdf");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ok) || m_fs.state() == QProcess::NotRunning, 10000);
    if (!QFile::exists(ok)) {
        m_notRun = QStringLiteral("a FUSE file system cannot be mounted here: ") +
                   QString::fromLocal8Bit(m_fs.readAllStandardError()).simplified();
    }
}

// Ending the file system fails every request still waiting in it, so the
// threads left in it return and the apps end.
void TestFileLookup::cleanupTestCase() {
    if (m_fs.state() != QProcess::NotRunning) {
        m_fs.kill();
        m_fs.waitForFinished();
        QProcess::execute(QStringLiteral("fusermount3"), {"-u", "-z", m_mount});
    }
    for (const auto& app : m_apps) {
        QVERIFY(app->waitForFinished(10000));
    }
}

void TestFileLookup::stalledFile_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("then");
    QTest::newRow("open stalls: the pane tells, the rest is shown") << "stall-open.pdf"
                                                                    << "pane";
    QTest::newRow("read stalls: the pane tells, the rest is shown") << "stall-read.pdf"
                                                                    << "pane";
    QTest::newRow("open stalls: closing the window ends the app") << "stall-open.pdf"
                                                                  << "close";
    QTest::newRow("open stalls: SIGTERM ends the app") << "stall-open.pdf"
                                                       << "SIGTERM";
    QTest::newRow("read stalls: SIGTERM ends the app") << "stall-read.pdf"
                                                       << "SIGTERM";
}

void TestFileLookup::stalledFile() {
    QFETCH(QString, file);
    QFETCH(QString, then);
    if (!m_notRun.isEmpty()) {
        QSKIP(qPrintable(QStringLiteral("not run: ") + m_notRun));
    }
    const QByteArray stalled = QFile::encodeName(m_mount + u'/' + file);
    const QByteArray fine = QFile::encodeName(m_mount + QStringLiteral("/ok.pdf"));
    const int before = stalls(file);

    if (then == QLatin1String("SIGTERM")) {
        m_apps.push_back(std::make_unique<QProcess>());
        QProcess& app = *m_apps.back();
        app.start(QStringLiteral(QUELVIX_APP), {QFile::decodeName(stalled)});
        QVERIFY(app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(stalls(file) > before, 20000);
        ::kill(pid_t(app.processId()), SIGTERM);
        // What is left waits in the kernel until the mount answers.
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(app.processId()), 5000);
        return;
    }

    FakeServices services;
    Form1 form(services.services());
    form.openFiles({stalled, fine});
    QCOMPARE(services.pages.size(), 1);
    QVERIFY(services.pages.first().html.contains(QStringLiteral("正在读取")));
    QCOMPARE(form.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), QStringLiteral("pdf"));
    QTRY_VERIFY_WITH_TIMEOUT(stalls(file) > before, 10000);

    if (then == QLatin1String("close")) {
        form.close();
        QTRY_COMPARE(services.exits, 1);
        return;
    }
    // The window answers while the file stalls.
    bool answered = false;
    QTimer::singleShot(0, &form, [&answered] { answered = true; });
    QTRY_VERIFY(answered);
    QTRY_COMPARE_WITH_TIMEOUT(services.pages.size(), 2, 15000);
    const QString& page = services.pages.last().html;
    QVERIFY2(page.contains(file) && page.contains(QStringLiteral("秒内没有读出来")),
             qPrintable(page));
    QVERIFY2(page.contains(QStringLiteral("<code>application/pdf</code>")), qPrintable(page));
    QVERIFY(services.navigations.isEmpty());
}

QTEST_MAIN(TestFileLookup)
#include "tst_filelookup.moc"

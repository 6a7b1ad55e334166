// Both programs answer --help and --version, and refuse what they do not
// know, without a display and without serving.
#include <QProcess>
#include <QTest>

class TestCommandLines : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
};

void TestCommandLines::answers_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    const QString app = QStringLiteral(QUELVIX_APP_BINARY);
    const QString site = QStringLiteral(QUELVIX_SITE_BINARY);
    const QByteArray version = QUELVIX_VERSION "\n";
    const QByteArray usage("用法：quelvix [选项]");
    QTest::newRow("app --version")
        << app << QStringList{"--version"} << 0 << "quelvix " + version << QByteArray();
    QTest::newRow("app --help") << app << QStringList{"--help"} << 0 << usage << QByteArray();
    // Qt's own options are the window's business, not unknown ones.
    QTest::newRow("app, Qt option and --help")
        << app << QStringList{"-platform", "offscreen", "--help"} << 0 << usage << QByteArray();
    QTest::newRow("app, unknown option") << app << QStringList{"--bogus"} << 2 << QByteArray()
                                         << QByteArray("未知选项 --bogus\n\n") + usage;
    // Files are taken for the window; the options beside them are still answered.
    QTest::newRow("app, file and --help")
        << app << QStringList{"pdf", "--help"} << 0 << usage << QByteArray();
    QTest::newRow("app, file and unknown option")
        << app << QStringList{"report.pdf", "--bogus"} << 2 << QByteArray()
        << QByteArray("未知选项 --bogus\n\n") + usage;
    QTest::newRow("app, Qt option without its value")
        << app << QStringList{"-platform"} << 2 << QByteArray()
        << QByteArray("选项 -platform 缺少取值\n\n") + usage;
    QTest::newRow("app, switch with a value")
        << app << QStringList{"--version=1"} << 2 << QByteArray()
        << QByteArray("选项 --version 不带取值");
    // With a port given, a site that served would never end.
    QTest::newRow("site --version") << site << QStringList{"--port", "0", "--version"} << 0
                                    << "quelvix-site " + version << QByteArray();
    QTest::newRow("site --help") << site << QStringList{"--port", "0", "--help"} << 0
                                 << QByteArray("--exit-when-idle") << QByteArray();
    // The site answers in Chinese unless the locale asks for another language.
    QTest::newRow("site, unknown option")
        << site << QStringList{"--bogus"} << 2 << QByteArray() << QByteArray("用法：");
    QTest::newRow("site, bad port")
        << site << QStringList{"--port", "70000"} << 2 << QByteArray() << QByteArray("用法：");
}

void TestCommandLines::answers() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);

    QProcess process;
    // No display at all: a program that tried to open a window would abort.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("LC_ALL", "C");
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray stdOut = process.readAllStandardOutput();
    const QByteArray stdErr = process.readAllStandardError();
    QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.contains(out), stdOut.constData());
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), stdErr.constData());
}

QTEST_GUILESS_MAIN(TestCommandLines)
#include "tst_command_lines.moc"

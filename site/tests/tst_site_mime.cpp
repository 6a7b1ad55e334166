// The site against what its machine may do to it: a damaged MIME database in
// the user's data folder (at start and while it runs), its own program file
// replaced by an upgrade, programs installed where inotify cannot be had; and
// its command line in the user's words. Everything through the real binary.
#include "fixtures.h"
#include "siteprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString corpus = QStringLiteral(QUELVIX_SOURCE_DIR "/site/tests/corrupt-mime");

// The site binary given, on a free port, with its own error output at hand.
class RunningSite {
public:
    RunningSite(const QProcessEnvironment& env, const QStringList& arguments,
                const QString& binary = QStringLiteral(QUELVIX_SITE_BINARY)) {
        m_process.setProcessEnvironment(env);
        m_process.start(binary, QStringList{"--port", "0"} + arguments);
        if (m_process.waitForReadyRead(30000)) {
            const QByteArray line = m_process.readLine().trimmed();
            m_port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
        }
    }
    ~RunningSite() {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool isUp() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    Reply get(const QByteArray& target) const { return getFrom(m_port, target); }
    QString errors() {
        m_errors += QString::fromUtf8(m_process.readAllStandardError());
        return m_errors;
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_errors;
};

// As update-mime-database writes it: whole, under the old name at once.
bool replaceFile(const QString& path, const QString& with) {
    const QString next = path + QStringLiteral(".next");
    QFile::remove(next);
    return QFile::copy(with, next) && std::rename(qPrintable(next), qPrintable(path)) == 0;
}

// The kernel's numbers for the sockets listening on the port, IPv4 and
// IPv6, from its tables.
QByteArrayList listeningSocketsOn(quint16 port) {
    QByteArrayList found;
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char* name : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile table(QString::fromLatin1(name));
        if (!table.open(QIODevice::ReadOnly)) {
            continue;
        }
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 9 && fields[1].endsWith(local) && fields[3] == "0A") {
                found << fields[9];
            }
        }
    }
    return found;
}

QString variant(const QString& name) {
    return corpus + QLatin1Char('/') + name + QStringLiteral(".cache");
}

} // namespace

class TestSiteMime : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void damagedCacheAtStart_data();
    void damagedCacheAtStart();
    void damagedCacheWhileRunning_data();
    void damagedCacheWhileRunning();
    void suggestionsFollowMimeChange();
    void programsAppearWithoutInotify();
    void exitsWhenProgramFileGoes_data();
    void exitsWhenProgramFileGoes();
    void commandLine_data();
    void commandLine();

private:
    QString userCache() const { return m_world.dir.filePath("home/mime/mime.cache"); }

    TestWorld m_world;
};

// The test world, and a program of the user's own beside the user's MIME
// database: leaving the database out must not lose it.
void TestSiteMime::initTestCase() {
    QVERIFY(m_world.make(true));
    const QString home = m_world.dir.filePath("home");
    QVERIFY(writeFile(home + "/applications/qvx-home.desktop",
                      "[Desktop Entry]\nType=Application\nExec=true %f\nName=Home Viewer\n"
                      "MimeType=application/x-quelvix-test;\n"));
    QCOMPARE(QProcess::execute("update-desktop-database", {home + "/applications"}), 0);
    // The user's database as update-mime-database leaves it, each type's
    // description beside the cache; the rows then damage only the cache.
    QVERIFY(QDir().mkpath(home + "/mime/packages"));
    QVERIFY(QFile::copy(corpus + "/tiny.xml", home + "/mime/packages/tiny.xml"));
    QCOMPARE(QProcess::execute("update-mime-database", {home + "/mime"}), 0);
}

void TestSiteMime::damagedCacheAtStart_data() {
    QTest::addColumn<QString>("cache");
    const QStringList variants =
        QDir(corpus).entryList({QStringLiteral("[0-9][0-9]-*.cache")}, QDir::Files, QDir::Name);
    QCOMPARE(variants.size(), 60);
    for (const QString& name : variants) {
        QTest::newRow(qPrintable(name)) << corpus + QLatin1Char('/') + name;
    }
    QTest::newRow("sound, as update-mime-database wrote it") << variant("base");
}

// The site starts and answers, with or without the damaged database, and says
// the truth about it: left out, its types are unknown; read, they are known.
void TestSiteMime::damagedCacheAtStart() {
    QFETCH(QString, cache);
    QVERIFY(replaceFile(userCache(), cache));
    RunningSite site(m_world.env, {"--catalog", m_world.catalog});
    QVERIFY2(site.isUp(), qPrintable(site.errors()));
    QCOMPARE(site.get("/filefound/pdf.html").status, 200);
    QCOMPARE(site.get("/filefound/qvxnosuch.html").status, 404);
    const Reply programs = site.get("/soso/qvxtest.htm");
    QCOMPARE(programs.status, 200);
    QVERIFY(programs.body.contains("Home Viewer"));
    const int userType = site.get("/filefound/qva.html").status;
    QVERIFY2(site.isRunning(), qPrintable(site.errors()));
    const bool leftOut = site.errors().contains(userCache());
    QCOMPARE(userType, leftOut ? 404 : 200);
    // The sound one, the test world's and the system's are all read.
    if (cache == variant("base")) {
        QVERIFY2(!site.errors().contains("已略过"), qPrintable(site.errors()));
    }
}

void TestSiteMime::damagedCacheWhileRunning_data() {
    QTest::addColumn<QString>("cache");
    for (const char* name : {"07-alias-offset-far", "17-alias-count-huge", "30-glob-far",
                             "37-suffix-loop-self", "51-matchlet-loop-self"}) {
        QTest::newRow(name) << variant(name);
    }
}

// Damaged under a running site, the database is left out and the site goes on
// answering on its port; repaired, it is read again.
void TestSiteMime::damagedCacheWhileRunning() {
    QFETCH(QString, cache);
    QVERIFY(replaceFile(userCache(), variant("base")));
    RunningSite site(m_world.env, {"--catalog", m_world.catalog});
    QVERIFY(site.isUp());
    QCOMPARE(site.get("/filefound/qva.html").status, 200);
    const qint64 pid = site.process().processId();
    const QByteArrayList listening = listeningSocketsOn(site.port());
    QVERIFY(!listening.isEmpty());

    QVERIFY(replaceFile(userCache(), cache));
    QTRY_COMPARE_WITH_TIMEOUT(site.get("/filefound/qva.html").status, 404, 20000);
    // Started over on the very socket it listened on: the port was never
    // free for another program to take meanwhile.
    QCOMPARE(listeningSocketsOn(site.port()), listening);
    QCOMPARE(site.get("/filefound/pdf.html").status, 200);
    QVERIFY2(site.isRunning(), qPrintable(site.errors()));
    QCOMPARE(site.process().processId(), pid);
    QTRY_VERIFY2(site.errors().contains(userCache()), qPrintable(site.errors()));

    QVERIFY(replaceFile(userCache(), variant("base")));
    QTRY_COMPARE_WITH_TIMEOUT(site.get("/filefound/qva.html").status, 200, 20000);
    QVERIFY(site.isRunning());
}

// A type installed while the site runs shows among the suggestions, although
// they were rebuilt while QMimeDatabase still gave the old answers.
void TestSiteMime::suggestionsFollowMimeChange() {
    QVERIFY(replaceFile(userCache(), variant("base")));
    RunningSite site(m_world.env, {"--catalog", m_world.catalog});
    QVERIFY(site.isUp());
    QVERIFY(!site.get("/filefound/qvxsugg.html").body.contains("qvxsugga"));
    const QString package = m_world.share + "/mime/packages/quelvix-sugg.xml";
    QVERIFY(writeFile(package, "<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop."
                               "org/standards/shared-mime-info\"><mime-type type=\"application/"
                               "x-quelvix-sugg\"><comment>Suggested</comment><glob pattern=\"*."
                               "qvxsugga\"/></mime-type></mime-info>\n"));
    QCOMPARE(QProcess::execute("update-mime-database", {m_world.share + "/mime"}), 0);
    // Asked for while the change is being noticed, the list is rebuilt from
    // what the database still says.
    QElapsedTimer asking;
    asking.start();
    while (asking.elapsed() < 2000) {
        QCOMPARE(site.get("/filefound/qvxsugg.html").status, 404);
    }
    QTRY_VERIFY_WITH_TIMEOUT(site.get("/filefound/qvxsugg.html").body.contains("qvxsugga"), 20000);
    QFile::remove(package);
    QCOMPARE(QProcess::execute("update-mime-database", {m_world.share + "/mime"}), 0);
}

// GLib cannot watch the programs' folders when inotify cannot be had; the
// site notices a program installed all the same.
void TestSiteMime::programsAppearWithoutInotify() {
    TestWorld world;
    QVERIFY(world.make(true));
    world.env.insert("LD_PRELOAD", QStringLiteral(QUELVIX_NO_INOTIFY));
    world.env.insert("ASAN_OPTIONS",
                     world.env.value("ASAN_OPTIONS") + QStringLiteral(":verify_asan_link_order=0"));
    RunningSite site(world.env, {"--catalog", world.catalog});
    QVERIFY(site.isUp());
    QVERIFY(!site.get("/soso/qvxtest.htm").body.contains("Late Viewer"));
    QVERIFY(writeFile(world.share + "/applications/qvx-late.desktop",
                      "[Desktop Entry]\nType=Application\nExec=true %f\nName=Late Viewer\n"
                      "MimeType=application/x-quelvix-test;\n"));
    QCOMPARE(QProcess::execute("update-desktop-database", {world.share + "/applications"}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(site.get("/soso/qvxtest.htm").body.contains("Late Viewer"), 20000);
    QVERIFY(site.isRunning());
}

void TestSiteMime::exitsWhenProgramFileGoes_data() {
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("replaced, as an upgrade does") << true << QStringList{};
    QTest::newRow("removed, as removing the package does") << false << QStringList{};
    QTest::newRow("replaced, with an idle limit")
        << true << QStringList{"--exit-when-idle", "1800"};
}

// The next lookup must start the program now installed, not keep the old one.
void TestSiteMime::exitsWhenProgramFileGoes() {
    QFETCH(bool, replaced);
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    const QString binary = dir.filePath("quelvix-site");
    QVERIFY(QFile::copy(QStringLiteral(QUELVIX_SITE_BINARY), binary));
    RunningSite site(m_world.env, QStringList{"--catalog", m_world.catalog} + arguments, binary);
    QVERIFY(site.isUp());
    QCOMPARE(site.get("/filefound/pdf.html").status, 200);
    QVERIFY(replaced ? replaceFile(binary, QStringLiteral(QUELVIX_SITE_BINARY))
                     : QFile::remove(binary));
    QVERIFY(site.process().waitForFinished(10000));
    QCOMPARE(site.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(site.process().exitCode(), 0);
    QVERIFY(site.errors().contains("程序文件已被删除或替换"));
}

void TestSiteMime::commandLine_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("says");
    const QStringList help{"用法：quelvix-site [选项]", "--exit-when-idle <秒数>",
                           "显示本帮助并退出"};
    QTest::newRow("help") << "C" << QStringList{"--help"} << 0 << "out" << help;
    QTest::newRow("help, short, Chinese locale")
        << "zh_CN.UTF-8" << QStringList{"-h"} << 0 << "out" << help;
    QTest::newRow("version") << "C" << QStringList{"--version"} << 0 << "out"
                             << QStringList{"quelvix-site " QUELVIX_VERSION "\n"};
    QTest::newRow("unknown option")
        << "C" << QStringList{"--nope"} << 2 << "err"
        << QStringList{"quelvix-site: 未知选项 --nope\n", "用法：quelvix-site [选项]"};
    QTest::newRow("missing value") << "C" << QStringList{"--port"} << 2 << "err"
                                   << QStringList{"选项 --port 缺少取值", "用法："};
    QTest::newRow("port out of range") << "C" << QStringList{"--port", "70000"} << 2 << "err"
                                       << QStringList{"端口须是 0 到 65535 的数", "用法："};
    // Standard input is the read end of a pipe: the line is never written into it.
    QTest::newRow("ready descriptor not open for writing")
        << "C" << QStringList{"--ready-fd", "0"} << 2 << "err"
        << QStringList{"--ready-fd 须是一个可写的管道的描述符"};
    QTest::newRow("stray argument")
        << "C" << QStringList{"stray"} << 2 << "err" << QStringList{"不接受参数 stray"};
    // Serving a moment and ending when idle: the line with the address, in
    // the person's language, the address last for whoever reads it.
    QTest::newRow("serving, Chinese locale")
        << "zh_CN.UTF-8" << QStringList{"--port", "0", "--exit-when-idle", "1"} << 0 << "out"
        << QStringList{"查询站点地址：http://127.0.0.1:"};
    QTest::newRow("serving, English locale")
        << "en_US.UTF-8" << QStringList{"--port", "0", "--exit-when-idle", "1"} << 0 << "out"
        << QStringList{"listening on http://127.0.0.1:"};
    QTest::newRow("unknown option, English locale")
        << "en_US.UTF-8" << QStringList{"--nope"} << 2 << "err"
        << QStringList{"unknown option --nope", "Usage: quelvix-site [options]"};
}

void TestSiteMime::commandLine() {
    QFETCH(QString, locale);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QStringList, says);
    QProcess process;
    QProcessEnvironment env = m_world.env;
    env.insert("LC_ALL", locale);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUELVIX_SITE_BINARY), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), exitCode);
    const QString text = QString::fromUtf8(output == "out" ? process.readAllStandardOutput()
                                                           : process.readAllStandardError());
    for (const QString& part : says) {
        QVERIFY2(text.contains(part), qPrintable(text));
    }
}

QTEST_GUILESS_MAIN(TestSiteMime)
#include "tst_site_mime.moc"

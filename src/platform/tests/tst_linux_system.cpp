#include "processstarter.h"
#include "registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using platform::Registry;

bool writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write("#!/bin/sh\n" + body);
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// PATH set to one folder for the life of the object.
class OnlyOnPath {
public:
    explicit OnlyOnPath(const QString& dir)
        : m_saved(qgetenv("PATH")) {
        qputenv("PATH", dir.toLocal8Bit());
    }
    ~OnlyOnPath() { qputenv("PATH", m_saved); }

private:
    QByteArray m_saved;
};

QString readPath(Registry& registry, const QByteArray& key, const QByteArray& name, long* status) {
    Registry::Key opened = 0;
    *status = registry.openKey(Registry::localMachine, key, 0, Registry::keyRead, &opened);
    if (*status != Registry::success) {
        return {};
    }
    unsigned char data[1024] = {};
    std::uint32_t size = sizeof data;
    std::uint32_t type = 0;
    *status = registry.queryValue(opened, name, &type, data, &size);
    registry.closeKey(opened);
    if (*status != Registry::success || type != Registry::typeString) {
        return {};
    }
    return QString::fromLocal8Bit(reinterpret_cast<const char*>(data));
}

} // namespace

class TestLinuxSystem : public QObject {
    Q_OBJECT

private slots:
    void toolLocation_data();
    void toolLocation();
    void secondLocationIsAlwaysMissing();
    void startsAProgram();
    void reportsWhatCannotStart_data();
    void reportsWhatCannotStart();
};

void TestLinuxSystem::toolLocation_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("found");

    QTest::newRow("none installed") << QStringList{} << "";
    QTest::newRow("hardinfo") << QStringList{"hardinfo"} << "hardinfo";
    QTest::newRow("first of the list wins")
        << QStringList{"gnome-system-monitor", "hardinfo"} << "hardinfo";
    QTest::newRow("last resort") << QStringList{"gnome-system-monitor"} << "gnome-system-monitor";
}

void TestLinuxSystem::toolLocation() {
    QFETCH(QStringList, installed);
    QFETCH(QString, found);

    QTemporaryDir bin;
    for (const QString& program : installed) {
        QVERIFY(writeScript(bin.filePath(program), "exit 0\n"));
    }
    OnlyOnPath path(bin.path());
    const auto registry = platform::makeRegistry();
    long status = 0;
    const QString value =
        readPath(*registry, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", &status);
    if (found.isEmpty()) {
        QCOMPARE(status, Registry::fileNotFound);
    } else {
        QCOMPARE(status, Registry::success);
        QCOMPARE(value, bin.filePath(found));
    }
}

void TestLinuxSystem::secondLocationIsAlwaysMissing() {
    QTemporaryDir bin;
    QVERIFY(writeScript(bin.filePath("hardinfo"), "exit 0\n"));
    OnlyOnPath path(bin.path());
    const auto registry = platform::makeRegistry();
    long status = 0;
    readPath(*registry, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", &status);
    QCOMPARE(status, Registry::fileNotFound);
    readPath(*registry, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "OTHER", &status);
    QCOMPARE(status, Registry::fileNotFound);
}

void TestLinuxSystem::startsAProgram() {
    QTemporaryDir dir;
    const QString program = dir.filePath("tool with blank");
    QVERIFY(writeScript(program, "touch \"$0.ran\"\n"));
    const auto error = platform::makeProcessStarter()->start(program, platform::ShowWindow::Normal);
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QTRY_VERIFY(QFile::exists(program + ".ran"));
}

void TestLinuxSystem::reportsWhatCannotStart_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::newRow("empty") << "";
    QTest::newRow("missing") << "/nonexistent/tool";
}

void TestLinuxSystem::reportsWhatCannotStart() {
    QFETCH(QString, commandLine);
    const auto error =
        platform::makeProcessStarter()->start(commandLine, platform::ShowWindow::Normal);
    QVERIFY(error);
    QVERIFY(!error->isEmpty());
}

QTEST_GUILESS_MAIN(TestLinuxSystem)
#include "tst_linux_system.moc"

#include "fakes.h"
#include "sysinfo.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using platform::Registry;

const QByteArray testKey = QByteArrayLiteral("SOFTWARE\\Test");
const QByteArray pathKey = QByteArrayLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QByteArray folderKey = QByteArrayLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");

QByteArray dword(std::uint32_t value) {
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i) {
        data[i] = char((value >> (8 * i)) & 0xFF);
    }
    return data;
}

struct Launcher {
    MemoryRegistry registry;
    RecordingStarter processes;
    RecordingMessenger messenger;
    void start() { sysinfo::StartSysInfo({registry, processes, messenger}, nullptr); }
    bool showedUnavailable() const {
        return messenger.messages.size() == 1 &&
               messenger.messages[0].text == QStringLiteral("此时系统信息不可用") &&
               messenger.messages[0].title.isEmpty() &&
               messenger.messages[0].icon == platform::MessageIcon::None;
    }
};

} // namespace

class TestSysInfo : public QObject {
    Q_OBJECT

private slots:
    void getKeyValue_data();
    void getKeyValue();
    void opensForReadingOnly();
    void startSysInfo_data();
    void startSysInfo();
};

void TestSysInfo::getKeyValue_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<std::uint32_t>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("text");

    const std::uint32_t sz = Registry::typeString;
    const std::uint32_t dw = Registry::typeDword;
    QTest::newRow("REG_SZ without its NUL")
        << testKey << sz << QByteArray("C:\\tool.exe", 12) << true << "C:\\tool.exe";
    QTest::newRow("REG_SZ filling 1024 bytes, no NUL: taken whole")
        << testKey << sz << QByteArray(1024, 'x') << true << QString(1024, QLatin1Char('x'));
    QTest::newRow("REG_SZ longer than 1024 bytes: refused, emptied")
        << testKey << sz << QByteArray(1025, 'x') << false << "";
    QTest::newRow("REG_SZ empty") << testKey << sz << QByteArray(1, '\0') << true << "";
    QTest::newRow("REG_DWORD 256") << testKey << dw << dword(256) << true << "&h00000100";
    QTest::newRow("REG_DWORD 1") << testKey << dw << dword(1) << true << "&h00000001";
    QTest::newRow("REG_DWORD capital hex")
        << testKey << dw << dword(0xDEADBEEF) << true << "&hDEADBEEF";
    QTest::newRow("other type: caller's text kept")
        << testKey << std::uint32_t(3) << QByteArray("\x01\x02", 2) << true << "caller's";
    QTest::newRow("missing key: emptied")
        << QByteArray("SOFTWARE\\Elsewhere") << sz << QByteArray("x", 2) << false << "";
}

void TestSysInfo::getKeyValue() {
    QFETCH(QByteArray, key);
    QFETCH(std::uint32_t, type);
    QFETCH(QByteArray, data);
    QFETCH(bool, result);
    QFETCH(QString, text);

    MemoryRegistry registry;
    registry.set(key, "Value", {type, data});
    QString value = QStringLiteral("caller's");
    QCOMPARE(sysinfo::GetKeyValue(registry, Registry::localMachine, QString::fromLatin1(testKey),
                                  QStringLiteral("Value"), value),
             result);
    QCOMPARE(value, text);
    QCOMPARE(registry.openKeys(), 0);

    QString missing = QStringLiteral("caller's");
    QVERIFY(!sysinfo::GetKeyValue(registry, Registry::localMachine, QString::fromLatin1(key),
                                  QStringLiteral("NoSuchValue"), missing));
    QCOMPARE(missing, QString());
    QCOMPARE(registry.openKeys(), 0);
}

void TestSysInfo::opensForReadingOnly() {
    MemoryRegistry registry;
    registry.set(testKey, "Value", {Registry::typeString, QByteArray("x", 2)});
    QString value;
    QVERIFY(sysinfo::GetKeyValue(registry, Registry::localMachine, QString::fromLatin1(testKey),
                                 QStringLiteral("Value"), value));
    QCOMPARE(registry.lastAccess, Registry::keyRead);
}

void TestSysInfo::startSysInfo_data() {
    QTest::addColumn<bool>("firstKey");
    QTest::addColumn<bool>("secondKey");
    QTest::addColumn<bool>("toolFile");
    QTest::addColumn<bool>("startFails");
    QTest::addColumn<QString>("started"); // "first", "second" or empty
    QTest::addColumn<bool>("unavailable");

    QTest::newRow("first location, started unchecked")
        << true << false << false << false << "first" << false;
    QTest::newRow("first location wins over the second")
        << true << true << true << false << "first" << false;
    QTest::newRow("first location, start fails")
        << true << false << false << true << "first" << true;
    QTest::newRow("second location with the tool")
        << false << true << true << false << "second" << false;
    QTest::newRow("second location without the tool")
        << false << true << false << false << "" << true;
    QTest::newRow("neither location") << false << false << false << false << "" << true;
}

void TestSysInfo::startSysInfo() {
    QFETCH(bool, firstKey);
    QFETCH(bool, secondKey);
    QFETCH(bool, toolFile);
    QFETCH(bool, startFails);
    QFETCH(QString, started);
    QFETCH(bool, unavailable);

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("msinfo"));
    const QString tool = folder + QStringLiteral("\\MSINFO32.EXE");
    const QString firstPath = dir.filePath(QStringLiteral("no-such-tool"));
    if (toolFile) {
        QFile file(tool);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    Launcher l;
    if (firstKey) {
        l.registry.set(pathKey, "PATH", {Registry::typeString, firstPath.toLocal8Bit() + '\0'});
    }
    if (secondKey) {
        l.registry.set(folderKey, "MSINFO", {Registry::typeString, folder.toLocal8Bit() + '\0'});
    }
    if (startFails) {
        l.processes.failure = QStringLiteral("not found");
    }
    l.start();

    if (started.isEmpty()) {
        QVERIFY(l.processes.started.isEmpty());
    } else {
        QCOMPARE(l.processes.started.size(), 1);
        QCOMPARE(l.processes.started[0].first, started == "first" ? firstPath : tool);
        QVERIFY(l.processes.started[0].second == platform::ShowWindow::Normal);
    }
    QCOMPARE(l.showedUnavailable(), unavailable);
    QVERIFY(unavailable || l.messenger.messages.isEmpty());
    QCOMPARE(l.registry.openKeys(), 0);
}

QTEST_GUILESS_MAIN(TestSysInfo)
#include "tst_sysinfo.moc"

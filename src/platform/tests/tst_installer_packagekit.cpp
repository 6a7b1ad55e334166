// Installing through the real PackageKit service on a system bus: a tiny
// package built here is installed and removed, and an install asked for by a
// user the service does not authorise is told as refused. Without a system
// bus (or without being root to start one) nothing is run, and it says so.
#include "installer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int serviceTimeout = 180000;
constexpr char packageName[] = "quelvix-test-tiny";
constexpr char childVariable[] = "QUELVIX_TEST_INSTALL_FILE";
constexpr char busSocket[] = "/run/dbus/system_bus_socket";

struct Outcome {
    QList<std::pair<int, QString>> progress;
    std::optional<platform::InstallEnd> end;
    QString reason;
    platform::InstallWatch watch() {
        return {[this](int percent, const QString& status) {
                    progress.append({percent, status});
                },
                [this](platform::InstallEnd e, const QString& r) {
                    end = e;
                    reason = r;
                }};
    }
};

// A bus that answers there, not the socket a stopped one left behind.
bool busAnswers() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, busSocket, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool answered =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return answered;
}

QString packageStatus() {
    QProcess query;
    query.start("dpkg-query", {"-W", "-f=${Status}", packageName});
    query.waitForFinished();
    return QString::fromUtf8(query.readAllStandardOutput());
}

// What a user the service does not trust gets: the same install, in a child
// process of this test's own program.
int installAsChild(const QString& path) {
    Outcome outcome;
    std::unique_ptr<platform::Installer> installer = platform::makeInstaller(outcome.watch());
    if (!installer) {
        std::printf("no-service\n");
        return 2;
    }
    installer->installFile(path);
    if (!QTest::qWaitFor([&] { return outcome.end.has_value(); }, serviceTimeout)) {
        std::printf("no-answer\n");
        return 3;
    }
    std::printf("%d\n%s\n", outcome.end ? int(*outcome.end) : -1, qPrintable(outcome.reason));
    return 0;
}

} // namespace

class TestInstallerPackageKit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void installsAndRemovesAPackageFile();
    void refusedAuthorisationIsSaid();
    void cleanupTestCase();

private:
    QTemporaryDir m_dir;
    QString m_deb;
    qint64 m_bus = 0; // the system bus started here, to stop at the end
};

void TestInstallerPackageKit::initTestCase() {
    if (!busAnswers()) {
        if (::geteuid() != 0) {
            QSKIP("not run: no system bus, and only root can start one");
        }
        // What a bus stopped without cleaning up left: it would refuse to start.
        QFile::remove(busSocket);
        QFile::remove("/run/dbus/pid");
        QProcess bus;
        bus.start("dbus-daemon", {"--system", "--fork", "--print-pid"});
        if (!bus.waitForFinished() || bus.exitCode() != 0) {
            QSKIP("not run: no system bus could be started");
        }
        m_bus = bus.readAllStandardOutput().trimmed().toLongLong();
    }
    if (QStandardPaths::findExecutable("dpkg-deb").isEmpty()) {
        QSKIP("not run: dpkg-deb is missing");
    }
    // Readable by anyone: the service and the untrusted user both read it.
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther);
    const QDir root(m_dir.filePath("root"));
    root.mkpath("DEBIAN");
    root.mkpath("usr/share/doc/quelvix-test-tiny");
    QFile control(root.filePath("DEBIAN/control"));
    QVERIFY(control.open(QIODevice::WriteOnly));
    control.write("Package: quelvix-test-tiny\nVersion: 1.0\nArchitecture: all\n"
                  "Maintainer: Quelvix tests <tests@quelvix.invalid>\n"
                  "Description: a package that installs one small file\n");
    control.close();
    QFile readme(root.filePath("usr/share/doc/quelvix-test-tiny/README"));
    QVERIFY(readme.open(QIODevice::WriteOnly));
    readme.write("installed by a test\n");
    readme.close();
    m_deb = m_dir.filePath("tiny.deb");
    QCOMPARE(QProcess::execute("dpkg-deb", {"--build", "--root-owner-group", root.path(), m_deb}),
             0);
    QFile::setPermissions(m_deb, QFileDevice::ReadOwner | QFileDevice::ReadOther);
}

void TestInstallerPackageKit::installsAndRemovesAPackageFile() {
    if (::geteuid() != 0) {
        QSKIP("not run: only root is authorised without a password prompt");
    }
    QVERIFY2(!packageStatus().contains("installed"), "the test package is installed already");
    Outcome installed;
    std::unique_ptr<platform::Installer> installer = platform::makeInstaller(installed.watch());
    if (!installer) {
        QSKIP("not run: the system bus cannot start PackageKit");
    }
    installer->installFile(m_deb);
    QTRY_VERIFY_WITH_TIMEOUT(installed.end.has_value(), serviceTimeout);
    QVERIFY2(*installed.end == platform::InstallEnd::Done, qPrintable(installed.reason));
    QCOMPARE(packageStatus(), QStringLiteral("install ok installed"));
    QVERIFY(!installed.progress.isEmpty());
    QVERIFY(std::any_of(installed.progress.begin(), installed.progress.end(),
                        [](const auto& p) { return p.first >= 0 && !p.second.isEmpty(); }));

    Outcome removed;
    std::unique_ptr<platform::Installer> remover = platform::makeInstaller(removed.watch());
    remover->removePackage(packageName);
    QTRY_VERIFY_WITH_TIMEOUT(removed.end.has_value(), serviceTimeout);
    QVERIFY2(*removed.end == platform::InstallEnd::Done, qPrintable(removed.reason));
    QVERIFY(!packageStatus().contains("ok installed"));
}

void TestInstallerPackageKit::refusedAuthorisationIsSaid() {
    if (QStandardPaths::findExecutable("setpriv").isEmpty() || ::geteuid() != 0) {
        QSKIP("not run: cannot run the install as another user here");
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(childVariable, m_deb);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(environment);
    child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                            QCoreApplication::applicationFilePath()});
    QVERIFY(child.waitForFinished(serviceTimeout));
    const QStringList said = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
    if (child.exitCode() == 126 || child.exitCode() == 127) {
        QSKIP("not run: the test program cannot be run as another user here");
    }
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(said.value(0), QString::number(int(platform::InstallEnd::Failed)));
    QVERIFY2(said.value(1).startsWith(QStringLiteral("没有得到授权")), qPrintable(said.value(1)));
    QVERIFY(!packageStatus().contains("ok installed"));
}

void TestInstallerPackageKit::cleanupTestCase() {
    if (m_bus > 0) {
        QProcess::execute("kill", {QString::number(m_bus)});
    }
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString childFile = qEnvironmentVariable(childVariable);
    if (!childFile.isEmpty()) {
        return installAsChild(childFile);
    }
    TestInstallerPackageKit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_installer_packagekit.moc"

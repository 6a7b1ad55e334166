#include "localsite.h"

#include "addresses.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace platform {
namespace {

constexpr int retryMilliseconds = 25;
// Even at the end of the wait a connection gets this long: loopback answers
// well within it, and a connection given no time would never be seen to.
constexpr qint64 leastConnectMilliseconds = 250;
constexpr const char* idleExitSeconds = "1800";

QString installedSite() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/quelvix-site");
    return QFileInfo(beside).isExecutable() ? beside
                                            : QStandardPaths::findExecutable("quelvix-site");
}

bool startDetached(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

QHostAddress hostOf(const QUrl& address) {
    return address.host() == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                        : QHostAddress(address.host());
}

uint currentUser() {
#ifdef Q_OS_UNIX
    return uint(::geteuid());
#else
    return 0;
#endif
}

// A command as a shell reads it back: the program quoted when it has to be.
QString command(const QString& program, const QString& arguments) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    const QString quoted =
        plain.match(program).hasMatch()
            ? program
            : QLatin1Char('\'') + QString(program).replace(QLatin1Char('\''), "'\\''") + '\'';
    return quoted + QLatin1Char(' ') + arguments;
}

enum class Holder { Nobody, Us, Other, Unknown };

// An address in /proc/net/tcp{,6}: the raw bytes, written as 32-bit words in
// the machine's own order.
QHostAddress procAddress(QStringView hex) {
    QByteArray bytes;
    for (qsizetype i = 0; i + 8 <= hex.size(); i += 8) {
        const quint32 word = hex.mid(i, 8).toUInt(nullptr, 16);
        bytes.append(reinterpret_cast<const char*>(&word), sizeof word);
    }
    if (bytes.size() == 4) {
        return QHostAddress(qFromBigEndian<quint32>(bytes.constData()));
    }
    if (bytes.size() == 16) {
        return QHostAddress(reinterpret_cast<const quint8*>(bytes.constData()));
    }
    return {};
}

// Whether a connection to loopback could reach a socket bound to this address.
bool servesLoopback(const QHostAddress& bound) {
    bool mapped = false;
    const QHostAddress v4(bound.toIPv4Address(&mapped));
    const QHostAddress& address = mapped ? v4 : bound;
    return address.isLoopback() || address == QHostAddress::AnyIPv4 ||
           address == QHostAddress::AnyIPv6;
}

// Who listens on the port on loopback, from the kernel's table of TCP
// sockets; one listener of another user's is enough to make it theirs.
Holder holderOf(quint16 port) {
    constexpr QStringView listen = u"0A";
    bool readable = false;
    bool ours = false;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            continue;
        }
        readable = true;
        // Read whole: the kernel's tables tell no size, so a file of them is
        // at its end before the first read.
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : lines.mid(1)) { // after the column names
            const QStringList fields =
                QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() < 8 || fields[3] != listen) {
                continue;
            }
            const QStringList local = fields[1].split(QLatin1Char(':'));
            if (local.size() != 2 || local[1].toUShort(nullptr, 16) != port ||
                !servesLoopback(procAddress(local[0]))) {
                continue;
            }
            bool read = false;
            if (fields[7].toUInt(&read) != currentUser() || !read) {
                return Holder::Other;
            }
            ours = true;
        }
    }
    if (!readable) {
        return Holder::Unknown; // no such table here: whoever answers is taken at their word
    }
    return ours ? Holder::Us : Holder::Nobody;
}

} // namespace

struct LocalSite::Probe {
    QUrl address;
    quint16 port = 0;
    bool ownPort = false; // moved to this user's own port
    bool started = false;
    QDeadlineTimer deadline;
    Then then;

    // A taken port is told about the address as it was asked for; any other
    // answer names the port it was found on.
    void finish(const LocalSite& site, SiteProblem problem) const {
        QUrl target = address;
        if (ownPort && problem != SiteProblem::Taken) {
            target.setPort(port);
        }
        then(problem == SiteProblem::None ? SiteAnswer{target} : site.problem(problem, target));
    }
};

LocalSite::LocalSite()
    : LocalSite(installedSite(), startDetached) {}

LocalSite::LocalSite(QString program, Starter starter, int waitMilliseconds)
    : m_program(std::move(program))
    , m_starter(std::move(starter))
    , m_wait(waitMilliseconds) {}

void LocalSite::whenReady(const QUrl& address, Then then) {
    if (!addresses::isLoopback(address)) {
        then(SiteAnswer{address});
        return;
    }
    probe({address, addresses::portOf(address), false, false, QDeadlineTimer(m_wait),
           std::move(then)});
}

void LocalSite::probe(Probe p) {
    switch (holderOf(p.port)) {
    case Holder::Other:
        heldByOther(std::move(p));
        return;
    case Holder::Nobody:
        if (!p.started) {
            start(std::move(p));
            return;
        }
        retry(std::move(p));
        return;
    case Holder::Us:
    case Holder::Unknown:
        connectTo(std::move(p));
        return;
    }
}

void LocalSite::heldByOther(Probe p) {
    if (p.ownPort) {
        p.finish(*this, SiteProblem::Taken);
        return;
    }
    p.port = addresses::fallbackPort(p.port, currentUser());
    p.ownPort = true;
    p.started = false;
    probe(std::move(p));
}

bool LocalSite::startedLately(quint16 port) const {
    const auto started = m_started.find(port);
    return started != m_started.end() && !started->hasExpired();
}

void LocalSite::start(Probe p) {
    if (m_program.isEmpty()) {
        p.finish(*this, SiteProblem::Missing);
        return;
    }
    // Two programs may start a site at once: the second finds the port
    // taken and ends, and both go on with the first.
    if (!startedLately(p.port)) {
        const QStringList arguments = {QStringLiteral("--port"), QString::number(p.port),
                                       QStringLiteral("--exit-when-idle"),
                                       QLatin1String(idleExitSeconds)};
        if (!m_starter(m_program, arguments)) {
            p.finish(*this, SiteProblem::NoAnswer);
            return;
        }
        m_started.insert(p.port, QDeadlineTimer(m_wait));
    }
    p.started = true;
    retry(std::move(p));
}

void LocalSite::retry(Probe p) {
    if (p.deadline.hasExpired()) {
        p.finish(*this, SiteProblem::NoAnswer);
        return;
    }
    QTimer::singleShot(retryMilliseconds, &m_pending,
                       [this, p = std::move(p)]() mutable { probe(std::move(p)); });
}

// A connection is tried on the event loop: refused is told at once; a port
// whose listener takes nothing is given up when the wait is over.
void LocalSite::connectTo(Probe p) {
    auto* socket = new QTcpSocket(&m_pending);
    auto* wait = new QTimer(socket);
    wait->setSingleShot(true);
    const auto probe = std::make_shared<Probe>(std::move(p));
    // Whichever comes first settles the attempt and cuts off the others.
    const auto settle = [socket, wait] {
        wait->stop();
        wait->disconnect();
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
    };
    QObject::connect(socket, &QTcpSocket::connected, socket, [this, probe, settle] {
        settle();
        if (holderOf(probe->port) == Holder::Other) { // taken over meanwhile
            heldByOther(std::move(*probe));
        } else {
            probe->finish(*this, SiteProblem::None);
        }
    });
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [this, probe, settle] {
        settle();
        refused(std::move(*probe));
    });
    QObject::connect(wait, &QTimer::timeout, socket, [this, probe, settle] {
        settle();
        probe->finish(*this, SiteProblem::PortStuck);
    });
    wait->start(int(std::max(probe->deadline.remainingTime(), leastConnectMilliseconds)));
    socket->connectToHost(hostOf(probe->address), probe->port);
}

void LocalSite::refused(Probe p) {
    if (!p.started) {
        start(std::move(p));
    } else {
        retry(std::move(p));
    }
}

SiteAnswer LocalSite::problem(SiteProblem problem, const QUrl& address) const {
    const QString port = QString::number(addresses::portOf(address));
    const QString seconds = QString::number(m_wait / 1000.0);
    const QString site = m_program.isEmpty() ? QStringLiteral("quelvix-site") : m_program;
    SiteAnswer answer{address, problem};
    switch (problem) {
    case SiteProblem::None:
        break;
    case SiteProblem::Missing:
        answer.what = QStringLiteral("查询页面由本机的查询站点 quelvix-site 提供，可本程序旁边和 "
                                     "PATH 中都找不到它。安装带有它的 quelvix 软件包后再查询：");
        answer.fix = QStringLiteral("sudo apt-get install quelvix");
        break;
    case SiteProblem::NoAnswer:
        answer.what = QStringLiteral("本机的查询站点没有在端口 %1 上应答（等了 %2 秒）。"
                                     "在终端里运行它，就能看到原因：")
                          .arg(port, seconds);
        answer.fix = command(site, QStringLiteral("--port ") + port);
        break;
    case SiteProblem::PortStuck:
        answer.what = QStringLiteral("端口 %1 上有本用户的程序在监听，可它 %2 秒内没有接受连接。"
                                     "看看是哪个程序，结束它后再查询：")
                          .arg(port, seconds);
        answer.fix = QStringLiteral("ss -ltnp 'sport = :%1'").arg(port);
        break;
    case SiteProblem::Taken: {
        const QString own =
            QString::number(addresses::fallbackPort(addresses::portOf(address), currentUser()));
        answer.what = QStringLiteral("查询站点的端口被其他用户的程序占着：端口 %1 和本用户自己的"
                                     "端口 %2 都是。别人的程序可以冒充查询站点，所以这里不显示"
                                     "它的页面。看看是谁占着：")
                          .arg(port, own);
        answer.fix = QStringLiteral("ss -ltne 'sport = :%1 or sport = :%2'").arg(port, own);
        break;
    }
    }
    return answer;
}

} // namespace platform

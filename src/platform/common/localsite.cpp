#include "localsite.h"

#include "addresses.h"
#include "sitelaunch.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <vector>

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

// A word as a shell reads it back: quoted when it has to be.
QString quoted(const QString& word) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    return plain.match(word).hasMatch()
               ? word
               : QLatin1Char('\'') + QString(word).replace(QLatin1Char('\''), "'\\''") + '\'';
}

// A command as a shell reads it back: the program quoted when it has to be.
QString command(const QString& program, const QString& arguments) {
    return quoted(program) + QLatin1Char(' ') + arguments;
}

// What mends a missing site: from a checkout (the app run from its build
// tree, bin/ two levels below the project) the run command, which builds the
// site beside the app; else the package the project builds, which holds it.
std::pair<QString, QString> missingSiteFix() {
    const QString runCommand =
        QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/../../scripts/run.sh"))
            .canonicalFilePath();
    if (!runCommand.isEmpty()) {
        return {QStringLiteral("在源代码目录里运行下面的命令，它会装好所需的软件、构建查询站点，"
                               "再重新启动本程序："),
                QStringLiteral("bash ") + quoted(runCommand)};
    }
    return {QStringLiteral("请安装本项目构建的 quelvix 软件包（在构建目录里运行 cpack -G DEB "
                           "得到），它带有查询站点。在软件包所在的目录里运行："),
            QStringLiteral("sudo apt-get install ./quelvix_*.deb")};
}

// The reason a site gives is shown to the user: one line of text, kept short.
QString reasonFrom(const QByteArray& said) {
    QString reason = QString::fromUtf8(said).simplified().left(300);
    reason.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return reason;
}

} // namespace

using sitelaunch::currentUser;
using sitelaunch::Holder;
using sitelaunch::holderOf;

// What a started site said on its pipe.
struct LocalSite::Word {
    enum Kind { Ready, Failed, Silent } kind = Silent; // Silent: it ended without a word
    QString reason = {};

    static Word from(const std::optional<QByteArray>& line) {
        if (!line) {
            return {};
        }
        if (*line == "ready" || line->startsWith("ready ")) {
            return {Ready};
        }
        return {Failed, reasonFrom(line->startsWith("error ") ? line->mid(6) : *line)};
    }
};

// A site started here on a port, while its wait lasts.
struct LocalSite::Started {
    QDeadlineTimer until;
    std::unique_ptr<sitelaunch::ReadyPipe> pipe; // none: its port is tried instead
    std::optional<Word> word;                    // once it said it
    std::vector<Probe> waiting;                  // for its word
};

struct LocalSite::Probe {
    QUrl address;
    quint16 port = 0;
    bool ownPort = false; // moved to this user's own port
    bool started = false;
    QDeadlineTimer deadline;
    Then then;
    std::optional<QString> failure = {}; // what the started site said went wrong

    // A taken port is told about the address as it was asked for; any other
    // answer names the port it was found on.
    void finish(const LocalSite& site, SiteProblem problem) const {
        QUrl target = address;
        if (ownPort && problem != SiteProblem::Taken) {
            target.setPort(port);
        }
        then(problem == SiteProblem::None ? SiteAnswer{target}
                                          : site.problem(problem, target, failure.value_or("")));
    }
};

LocalSite::LocalSite()
    : LocalSite(installedSite(), sitelaunch::startDetached) {}

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
    p.failure.reset();
    probe(std::move(p));
}

std::shared_ptr<LocalSite::Started> LocalSite::startedLately(quint16 port) const {
    const auto started = m_started.value(port);
    return started && !started->until.hasExpired() ? started : nullptr;
}

void LocalSite::start(Probe p) {
    if (m_program.isEmpty()) {
        p.finish(*this, SiteProblem::Missing);
        return;
    }
    // Two programs may start a site at once: the second finds the port
    // taken and ends, and both go on with the first.
    if (!startedLately(p.port) && !launch(p.port)) {
        p.finish(*this, SiteProblem::NoAnswer);
        return;
    }
    p.started = true;
    await(std::move(p));
}

std::shared_ptr<LocalSite::Started> LocalSite::launch(quint16 port) {
    auto started = std::make_shared<Started>();
    started->until = QDeadlineTimer(m_wait);
    started->pipe = m_handPipe ? sitelaunch::openReadyPipe() : nullptr;
    QStringList arguments = {QStringLiteral("--port"), QString::number(port),
                             QStringLiteral("--exit-when-idle"), QLatin1String(idleExitSeconds)};
    const int keep = started->pipe ? started->pipe->writeEnd() : -1;
    if (started->pipe) {
        arguments << QStringLiteral("--ready-fd") << QString::number(keep);
    }
    if (!m_starter(m_program, arguments, keep)) {
        return nullptr;
    }
    m_started.insert(port, started);
    if (started->pipe) {
        const std::weak_ptr<Started> weak = started;
        started->pipe->wait([this, weak, port](const std::optional<QByteArray>& line) {
            if (const auto alive = weak.lock()) {
                heard(alive, port, Word::from(line));
            }
        });
        // Without a word within the wait, whoever waits for it tries the port.
        QTimer::singleShot(m_wait, &m_pending, [this, weak] {
            if (const auto alive = weak.lock(); alive && !alive->word) {
                for (Probe& p : std::exchange(alive->waiting, {})) {
                    retry(std::move(p));
                }
            }
        });
    }
    return started;
}

void LocalSite::await(Probe p) {
    const auto started = startedLately(p.port);
    if (!started || !started->pipe || (!started->word && started->until.hasExpired())) {
        retry(std::move(p));
    } else if (!started->word) {
        started->waiting.push_back(std::move(p));
    } else {
        act(*started->word, std::move(p));
    }
}

void LocalSite::heard(const std::shared_ptr<Started>& started, quint16 port, const Word& word) {
    started->word = word;
    if (word.kind == Word::Silent) {
        // Most likely an older site that stopped at the option it does not know.
        m_handPipe = false;
        if (m_started.value(port) == started) {
            m_started.remove(port);
        }
    }
    for (Probe& p : std::exchange(started->waiting, {})) {
        act(word, std::move(p));
    }
}

// Even a site that said it is ready is only taken once its port is seen to be
// this user's; one that failed may have lost the port to another site of
// this user's, started at the same time, or to another user's program.
void LocalSite::act(const Word& word, Probe p) {
    switch (word.kind) {
    case Word::Ready:
        probe(std::move(p));
        return;
    case Word::Failed:
        p.failure = word.reason;
        probe(std::move(p));
        return;
    case Word::Silent:
        p.started = false;
        start(std::move(p));
        return;
    }
}

void LocalSite::retry(Probe p) {
    if (p.failure) {
        p.finish(*this, SiteProblem::Failed);
        return;
    }
    if (p.deadline.hasExpired()) {
        p.finish(*this, SiteProblem::NoAnswer);
        return;
    }
    QTimer::singleShot(retryMilliseconds, &m_pending,
                       [this, p = std::move(p)]() mutable { probe(std::move(p)); });
}

// A connection is tried on the event loop: refused is told at once; a port
// whose listener takes nothing is given up when the wait is over. The attempt
// lives as long as its timer: both go when either settles it, or with the site.
void LocalSite::connectTo(Probe p) {
    auto* wait = new QTimer(&m_pending);
    wait->setSingleShot(true);
    const auto probe = std::make_shared<Probe>(std::move(p));
    const auto attempt = std::make_shared<std::unique_ptr<sitelaunch::Connecting>>();
    QObject::connect(wait, &QTimer::timeout, wait, [this, probe, wait, attempt] {
        attempt->reset();
        wait->deleteLater();
        probe->finish(*this, SiteProblem::PortStuck);
    });
    wait->start(int(std::max(probe->deadline.remainingTime(), leastConnectMilliseconds)));
    *attempt = sitelaunch::tryConnect(
        probe->address.host(), probe->port, [this, probe, wait](bool connected) {
            wait->stop();
            wait->deleteLater();
            if (!connected) {
                refused(std::move(*probe));
            } else if (holderOf(probe->port) == Holder::Other) { // taken over meanwhile
                heldByOther(std::move(*probe));
            } else {
                probe->finish(*this, SiteProblem::None);
            }
        });
}

void LocalSite::refused(Probe p) {
    if (!p.started) {
        start(std::move(p));
    } else {
        retry(std::move(p));
    }
}

SiteAnswer LocalSite::problem(SiteProblem problem, const QUrl& address,
                              const QString& reason) const {
    const QString port = QString::number(addresses::portOf(address));
    const QString seconds = QString::number(m_wait / 1000.0);
    const QString site = m_program.isEmpty() ? QStringLiteral("quelvix-site") : m_program;
    SiteAnswer answer{address, problem};
    switch (problem) {
    case SiteProblem::None:
        break;
    case SiteProblem::Missing: {
        const auto [how, fix] = missingSiteFix();
        answer.what = QStringLiteral("查询页面由本机的查询站点 quelvix-site 提供，可本程序旁边和 "
                                     "PATH 中都找不到它。") +
                      how;
        answer.fix = fix;
        break;
    }
    case SiteProblem::NoAnswer:
        answer.what = QStringLiteral("本机的查询站点没有在端口 %1 上应答（等了 %2 秒）。"
                                     "在终端里运行它，就能看到原因：")
                          .arg(port, seconds);
        answer.fix = command(site, QStringLiteral("--port ") + port);
        break;
    case SiteProblem::Failed:
        answer.what = QStringLiteral("本机的查询站点无法在端口 %1 上启动：%2。"
                                     "在终端里运行它，就能看到详情：")
                          .arg(port, reason);
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

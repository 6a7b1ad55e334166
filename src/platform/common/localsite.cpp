#include "localsite.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace platform {
namespace {

constexpr int waitMilliseconds = 2000;
constexpr int pollMilliseconds = 25;
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

int portOf(const QUrl& address) {
    return address.port(address.scheme() == QLatin1String("https") ? 443 : 80);
}

// A refused connection on loopback is told at once, so this never waits long.
bool accepts(const QUrl& address) {
    QTcpSocket socket;
    socket.connectToHost(address.host() == QLatin1String("localhost")
                             ? QHostAddress(QHostAddress::LocalHost)
                             : QHostAddress(address.host()),
                         quint16(portOf(address)));
    return socket.waitForConnected(200);
}

// Polls until the address accepts or the deadline passes, then calls then().
void pollUntilReachable(const QUrl& address, QDeadlineTimer deadline, std::function<void()> then) {
    if (accepts(address) || deadline.hasExpired()) {
        then();
        return;
    }
    QTimer::singleShot(pollMilliseconds, qApp, [address, deadline, then = std::move(then)] {
        pollUntilReachable(address, deadline, then);
    });
}

class SiteStartingLauncher final : public BrowserLauncher {
public:
    SiteStartingLauncher(std::unique_ptr<BrowserLauncher> launcher, LocalSite& site,
                         Messenger& messenger)
        : m_launcher(std::move(launcher))
        , m_site(site)
        , m_messenger(messenger) {}

    std::optional<QString> open(const QUrl& address) override {
        // Whether open() has returned yet: if not, the answer is its result;
        // after a wait, a failure is shown here.
        struct Call {
            bool returned = false;
            std::optional<QString> error;
        };
        const auto call = std::make_shared<Call>();
        m_site.whenReachable(address, [this, address, call] {
            std::optional<QString> error = m_launcher->open(address);
            if (!call->returned) {
                call->error = std::move(error);
            } else if (error) {
                m_messenger.show(nullptr, {*error, {}, MessageIcon::Critical});
            }
        });
        call->returned = true;
        return call->error;
    }

private:
    std::unique_ptr<BrowserLauncher> m_launcher;
    LocalSite& m_site;
    Messenger& m_messenger;
};

class SiteStartingPane final : public WebPane {
public:
    SiteStartingPane(std::unique_ptr<WebPane> pane, LocalSite& site)
        : m_pane(std::move(pane))
        , m_site(site) {}

    // Only the latest address is shown, even if an earlier one waited longer.
    void navigate(const QUrl& address) override {
        const quint64 request = ++m_latest;
        m_site.whenReachable(address,
                             [this, alive = std::weak_ptr<int>(m_alive), request, address] {
                                 if (!alive.expired() && request == m_latest) {
                                     m_pane->navigate(address);
                                 }
                             });
    }

private:
    std::unique_ptr<WebPane> m_pane;
    LocalSite& m_site;
    quint64 m_latest = 0;
    std::shared_ptr<int> m_alive = std::make_shared<int>();
};

} // namespace

LocalSite::LocalSite()
    : LocalSite(installedSite(), startDetached) {}

LocalSite::LocalSite(QString program, Starter starter)
    : m_program(std::move(program))
    , m_starter(std::move(starter)) {}

bool LocalSite::isLoopback(const QUrl& address) {
    const QString host = address.host();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

void LocalSite::whenReachable(const QUrl& address, std::function<void()> then) {
    if (!isLoopback(address) || accepts(address)) {
        then();
        return;
    }
    // Two programs may start a site at once: the second finds the port
    // taken and ends, and both go on with the first.
    const QStringList arguments = {QStringLiteral("--port"), QString::number(portOf(address)),
                                   QStringLiteral("--exit-when-idle"),
                                   QLatin1String(idleExitSeconds)};
    if (m_program.isEmpty() || !m_starter(m_program, arguments)) {
        then(); // the page shows the engine's own error, as for any address
        return;
    }
    pollUntilReachable(address, QDeadlineTimer(waitMilliseconds), std::move(then));
}

std::unique_ptr<BrowserLauncher> withLocalSite(std::unique_ptr<BrowserLauncher> launcher,
                                               LocalSite& site, Messenger& messenger) {
    return std::make_unique<SiteStartingLauncher>(std::move(launcher), site, messenger);
}

WebPaneFactory withLocalSite(WebPaneFactory factory, LocalSite& site) {
    return [factory = std::move(factory), &site](QWidget* host, WebPaneFailureHandler onFailure) {
        return std::unique_ptr<WebPane>(
            std::make_unique<SiteStartingPane>(factory(host, std::move(onFailure)), site));
    };
}

} // namespace platform

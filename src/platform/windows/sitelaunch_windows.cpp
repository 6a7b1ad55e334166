#include "common/sitelaunch.h"

#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>

namespace platform::sitelaunch {

// The kernel's socket tables are not read here, and the ids they would name
// are of no use.
uint currentUser() {
    return 0;
}

Holder holderOf(quint16) {
    return Holder::Unknown;
}

bool startDetached(const QString& program, const QStringList& arguments, int) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

// The site is waited for by trying its port.
std::unique_ptr<ReadyPipe> openReadyPipe() {
    return nullptr;
}

namespace {

class Connection final : public Connecting {
public:
    Connection(const QString& host, quint16 port, std::function<void(bool)> then)
        : m_socket(new QTcpSocket) {
        // Whichever comes first settles it; then() may end this attempt.
        const auto settle = [this, then = std::move(then)](bool connected) {
            m_socket->disconnect();
            m_socket->abort();
            then(connected);
        };
        QObject::connect(m_socket, &QTcpSocket::connected, m_socket, [settle] { settle(true); });
        QObject::connect(m_socket, &QTcpSocket::errorOccurred, m_socket,
                         [settle] { settle(false); });
        m_socket->connectToHost(host == QLatin1String("localhost")
                                    ? QHostAddress(QHostAddress::LocalHost)
                                    : QHostAddress(host),
                                port);
    }

    // The socket may be the one whose signal is being handled.
    ~Connection() override {
        m_socket->disconnect();
        m_socket->abort();
        m_socket->deleteLater();
    }

private:
    QTcpSocket* m_socket;
};

} // namespace

std::unique_ptr<Connecting> tryConnect(const QString& host, quint16 port,
                                       std::function<void(bool)> then) {
    return std::make_unique<Connection>(host, port, std::move(then));
}

} // namespace platform::sitelaunch

#include "common/sitelaunch.h"

#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QtEndian>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform::sitelaunch {

uint currentUser() {
    return uint(geteuid());
}

namespace {

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

// What is kept of a program to start, ready before forking: between fork
// and exec only calls that take no lock may be made.
struct Exec {
    Exec(const QString& program, const QStringList& arguments) {
        strings.push_back(QFile::encodeName(program));
        for (const QString& argument : arguments) {
            strings.push_back(argument.toLocal8Bit());
        }
        for (QByteArray& string : strings) {
            argv.push_back(string.data());
        }
        argv.push_back(nullptr);
        searched = !program.contains(QLatin1Char('/'));
    }

    [[noreturn]] void run(int keep, int nothing, int failed) const {
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        dup2(nothing, STDIN_FILENO);
        dup2(nothing, STDOUT_FILENO);
        dup2(nothing, STDERR_FILENO);
        if (keep >= 0) {
            fcntl(keep, F_SETFD, 0);
        }
        if (searched) {
            execvp(argv[0], argv.data());
        } else {
            execv(argv[0], argv.data());
        }
        const int error = errno;
        [[maybe_unused]] const ssize_t written = write(failed, &error, sizeof error);
        _exit(127);
    }

    std::vector<QByteArray> strings;
    std::vector<char*> argv;
    bool searched = false;
};

class PipeReader final : public ReadyPipe {
public:
    PipeReader(int readEnd, int writeEnd)
        : m_read(readEnd)
        , m_write(writeEnd) {}

    ~PipeReader() override {
        stop();
        closeWriteEnd();
    }

    int writeEnd() const override { return m_write; }

    void wait(std::function<void(std::optional<QByteArray>)> then) override {
        closeWriteEnd();
        m_then = std::move(then);
        m_notifier = new QSocketNotifier(m_read, QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier,
                         [this] { readSome(); });
    }

private:
    // A line longer than this is no line of the site's: it is cut off here.
    static constexpr qsizetype longestLine = 4096;

    void readSome() {
        char chunk[1024];
        const ssize_t got = read(m_read, chunk, sizeof chunk);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        if (got > 0) {
            m_line.append(chunk, got);
        }
        const qsizetype end = m_line.indexOf('\n');
        if (end >= 0 || m_line.size() >= longestLine) {
            finish(m_line.left(end >= 0 ? end : longestLine));
        } else if (got <= 0) {
            finish(m_line.isEmpty() ? std::nullopt : std::optional(m_line));
        }
    }

    // then() may end this reader: nothing of it is used after the call.
    void finish(std::optional<QByteArray> line) {
        stop();
        const auto then = std::move(m_then);
        then(std::move(line));
    }

    // The notifier may be the one whose signal is being handled.
    void stop() {
        if (m_notifier) {
            m_notifier->setEnabled(false);
            m_notifier->disconnect();
            m_notifier->deleteLater();
            m_notifier = nullptr;
        }
        if (m_read >= 0) {
            close(m_read);
            m_read = -1;
        }
    }

    void closeWriteEnd() {
        if (m_write >= 0) {
            close(m_write);
            m_write = -1;
        }
    }

    int m_read;
    int m_write;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_line;
    std::function<void(std::optional<QByteArray>)> m_then;
};

// Whose a listener is, by its address and owner.
struct Listener {
    QHostAddress address;
    uint owner = 0;
};

// The kernel's tables as text: every TCP socket of the machine, thousands
// of closing ones included on a busy one, so slow to read.
std::optional<std::vector<Listener>> listenersInTables(quint16 port) {
    constexpr QStringView listen = u"0A";
    std::optional<std::vector<Listener>> listeners;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            continue;
        }
        if (!listeners) {
            listeners.emplace();
        }
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
            if (local.size() != 2 || local[1].toUShort(nullptr, 16) != port) {
                continue;
            }
            bool read = false;
            const uint owner = fields[7].toUInt(&read);
            // An owner that cannot be read is nobody's to trust.
            listeners->push_back({procAddress(local[0]), read ? owner : ~currentUser()});
        }
    }
    return listeners;
}

// The answers to a dump, until the kernel says it is done.
std::optional<std::vector<Listener>> readListeners(int fd, quint16 port) {
    std::vector<Listener> listeners;
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        int left = int(got);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type == NLMSG_DONE) {
                return listeners;
            }
            if (message->nlmsg_type == NLMSG_ERROR ||
                message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                return std::nullopt;
            }
            const auto* socket = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
            if (ntohs(socket->id.idiag_sport) != port) {
                continue;
            }
            const auto* bytes = reinterpret_cast<const quint8*>(socket->id.idiag_src);
            listeners.push_back({socket->idiag_family == AF_INET
                                     ? QHostAddress(qFromBigEndian<quint32>(bytes))
                                     : QHostAddress(bytes),
                                 socket->idiag_uid});
        }
    }
}

Holder holderAmong(const std::vector<Listener>& listeners) {
    bool ours = false;
    for (const Listener& listener : listeners) {
        if (!servesLoopback(listener.address)) {
            continue;
        }
        if (listener.owner != currentUser()) {
            return Holder::Other;
        }
        ours = true;
    }
    return ours ? Holder::Us : Holder::Nobody;
}

// The listening sockets of one address family on the port, from the
// kernel's socket diagnostics: only listeners are sent, however many
// connections the machine holds. Nothing when the kernel will not say.
std::optional<std::vector<Listener>> listenersOn(int family, quint16 port) {
    const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) {
        return std::nullopt;
    }
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    ask.request.sdiag_family = quint8(family);
    ask.request.sdiag_protocol = IPPROTO_TCP;
    ask.request.idiag_states = 1u << TCP_LISTEN;
    std::optional<std::vector<Listener>> found;
    if (send(fd, &ask, sizeof ask, 0) == ssize_t(sizeof ask)) {
        found = readListeners(fd, port);
    }
    close(fd);
    return found;
}

std::optional<std::vector<Listener>> askKernel(quint16 port) {
    std::vector<Listener> all;
    for (const int family : {AF_INET, AF_INET6}) {
        const auto listeners = listenersOn(family, port);
        if (!listeners) {
            return std::nullopt;
        }
        all.insert(all.end(), listeners->begin(), listeners->end());
    }
    return all;
}

} // namespace

Holder holderOf(quint16 port) {
    auto listeners = askKernel(port);
    if (!listeners) {
        listeners = listenersInTables(port);
    }
    return listeners ? holderAmong(*listeners) : Holder::Unknown;
}

// Forked twice, so the program is nobody's child here and outlives this one;
// a failed exec is told back on a pipe that a successful one closes.
bool startDetached(const QString& program, const QStringList& arguments, int keep) {
    const Exec exec(program, arguments);
    const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
    int failed[2];
    if (nothing < 0 || pipe2(failed, O_CLOEXEC) != 0) {
        if (nothing >= 0) {
            close(nothing);
        }
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            exec.run(keep, nothing, failed[1]);
        }
        if (grandchild < 0) {
            const int error = errno;
            [[maybe_unused]] const ssize_t written = write(failed[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(failed[1]);
    close(nothing);
    int error = 0;
    bool started = false;
    if (child > 0) {
        waitpid(child, nullptr, 0);
        ssize_t got;
        do {
            got = read(failed[0], &error, sizeof error);
        } while (got < 0 && errno == EINTR);
        started = got == 0;
    }
    close(failed[0]);
    return started;
}

std::unique_ptr<ReadyPipe> openReadyPipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return nullptr;
    }
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    return std::make_unique<PipeReader>(ends[0], ends[1]);
}

} // namespace platform::sitelaunch

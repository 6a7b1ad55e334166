#include "common/sitelaunch.h"
#include "sockdiag.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/wait.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace platform::sitelaunch {

uint currentUser() {
    return uint(geteuid());
}

namespace {

// A socket's address as the kernel's tables give it: its bytes in network
// order, four of them for IPv4.
struct Address {
    std::array<quint8, 16> bytes{};
    bool isV4 = false;
    bool isRead = false;
};

Address v4Address(const quint8* bytes) {
    Address address;
    address.isV4 = true;
    address.isRead = true;
    std::copy(bytes, bytes + 4, address.bytes.begin());
    return address;
}

Address v6Address(const quint8* bytes) {
    Address address;
    address.isRead = true;
    std::copy(bytes, bytes + 16, address.bytes.begin());
    return address;
}

// An address in /proc/net/tcp{,6}: the raw bytes, written as 32-bit words in
// the machine's own order.
Address procAddress(QStringView hex) {
    QByteArray bytes;
    for (qsizetype i = 0; i + 8 <= hex.size(); i += 8) {
        const quint32 word = hex.mid(i, 8).toUInt(nullptr, 16);
        bytes.append(reinterpret_cast<const char*>(&word), sizeof word);
    }
    const auto* raw = reinterpret_cast<const quint8*>(bytes.constData());
    if (bytes.size() == 4) {
        return v4Address(raw);
    }
    if (bytes.size() == 16) {
        return v6Address(raw);
    }
    return {};
}

// Whether a connection to loopback could reach a socket bound to this
// address: loopback itself, or every address, in either family.
bool servesLoopback(const Address& bound) {
    if (!bound.isRead) {
        return false;
    }
    const quint8* b = bound.bytes.data();
    const bool mapped = !bound.isV4 && std::all_of(b, b + 10, [](quint8 x) { return x == 0; }) &&
                        b[10] == 0xff && b[11] == 0xff;
    if (bound.isV4 || mapped) {
        const quint8* v4 = bound.isV4 ? b : b + 12;
        return v4[0] == 127 || std::all_of(v4, v4 + 4, [](quint8 x) { return x == 0; });
    }
    const bool zeroUpTo15 = std::all_of(b, b + 15, [](quint8 x) { return x == 0; });
    return zeroUpTo15 && (b[15] == 0 || b[15] == 1);
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

// Cuts off a notifier or timer whose signal may be the one being handled,
// and has it deleted once the event loop is back.
template <typename T> void retire(T*& object) {
    if (!object) {
        return;
    }
    if constexpr (std::is_same_v<T, QSocketNotifier>) {
        object->setEnabled(false);
    } else {
        object->stop();
    }
    object->disconnect();
    object->deleteLater();
    object = nullptr;
}

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

    void stop() {
        retire(m_notifier);
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
    Address address;
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

// The listeners from the kernel's socket diagnostics, as the tables' text
// would give them.
std::optional<std::vector<Listener>> askKernel(quint16 port) {
    const auto found = sockdiag::Table().listeners(port);
    if (!found) {
        return std::nullopt;
    }
    std::vector<Listener> listeners;
    for (const sockdiag::Listener& listener : *found) {
        const quint8* bytes = listener.address.data();
        listeners.push_back(
            {listener.family == AF_INET ? v4Address(bytes) : v6Address(bytes), listener.owner});
    }
    return listeners;
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

namespace {

class Connection final : public Connecting {
public:
    Connection(const QString& host, quint16 port, std::function<void(bool)> then)
        : m_then(std::move(then)) {
        sockaddr_storage address{};
        const socklen_t length = addressOf(host, port, &address);
        m_fd = length == 0
                   ? -1
                   : socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int result = -1;
        if (m_fd >= 0) {
            do {
                result = connect(m_fd, reinterpret_cast<const sockaddr*>(&address), length);
            } while (result != 0 && errno == EINTR);
        }
        if (result != 0 && m_fd >= 0 && errno == EINPROGRESS) {
            m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write);
            QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier,
                             [this] { finish(connectError() == 0); });
            return;
        }
        // Loopback often answers at once; the caller still hears on the loop.
        m_soon = new QTimer;
        m_soon->setSingleShot(true);
        QObject::connect(m_soon, &QTimer::timeout, m_soon,
                         [this, connected = result == 0] { finish(connected); });
        m_soon->start(0);
    }

    ~Connection() override { stop(); }

private:
    static socklen_t addressOf(const QString& host, quint16 port, sockaddr_storage* storage) {
        const QByteArray name =
            host == QLatin1String("localhost") ? QByteArrayLiteral("127.0.0.1") : host.toLatin1();
        auto* v4 = reinterpret_cast<sockaddr_in*>(storage);
        if (inet_pton(AF_INET, name.constData(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
            return sizeof(sockaddr_in);
        }
        auto* v6 = reinterpret_cast<sockaddr_in6*>(storage);
        if (inet_pton(AF_INET6, name.constData(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(port);
            return sizeof(sockaddr_in6);
        }
        return 0;
    }

    int connectError() const {
        int error = 0;
        socklen_t size = sizeof error;
        return getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 ? error : errno;
    }

    // then() may end this attempt: nothing of it is used after the call.
    void finish(bool connected) {
        stop();
        const auto then = std::move(m_then);
        then(connected);
    }

    void stop() {
        retire(m_soon);
        retire(m_notifier);
        if (m_fd >= 0) {
            close(m_fd);
            m_fd = -1;
        }
    }

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_soon = nullptr;
    std::function<void(bool)> m_then;
};

} // namespace

std::unique_ptr<Connecting> tryConnect(const QString& host, quint16 port,
                                       std::function<void(bool)> then) {
    return std::make_unique<Connection>(host, port, std::move(then));
}

} // namespace platform::sitelaunch

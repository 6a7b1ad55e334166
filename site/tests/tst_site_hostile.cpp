// The site against clients that misbehave on purpose: bounded, loopback only.
#include "siteprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A plain blocking socket to the site, closed on destruction.
class Connection {
public:
    explicit Connection(quint16 port)
        : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Connection() { ::close(m_fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isConnected() const { return m_connected; }
    int fd() const { return m_fd; }
    // False once the site has closed the connection or refuses more bytes.
    bool send(const QByteArray& bytes) {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // Everything until the server closes or is quiet for the time; with
    // `oneReply`, only until one whole reply with a length is in, for
    // connections kept open.
    QByteArray receive(int timeoutMs, bool oneReply = false) {
        QByteArray all;
        pollfd wait{m_fd, POLLIN, 0};
        char buffer[65536];
        while (!(oneReply && isComplete(all)) && ::poll(&wait, 1, timeoutMs) > 0) {
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                m_closed = true;
                break;
            }
            all.append(buffer, got);
        }
        return all;
    }
    bool wasClosed() const { return m_closed; }

private:
    int m_fd;
    bool m_connected = false;
    bool m_closed = false;
};

int statusOf(const QByteArray& reply) {
    return reply.startsWith("HTTP/1.") ? reply.mid(9, 3).toInt() : 0;
}

qint64 residentKilobytes(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

// Waits until every client has a whole reply; false if one is still
// missing after the time given, or a connection closed.
bool allAnswered(const std::vector<Connection*>& clients, int timeoutMs) {
    std::vector<QByteArray> replies(clients.size());
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        std::vector<pollfd> waiting;
        std::vector<size_t> whose;
        for (size_t i = 0; i < clients.size(); ++i) {
            if (!isComplete(replies[i])) {
                waiting.push_back({clients[i]->fd(), POLLIN, 0});
                whose.push_back(i);
            }
        }
        const qint64 left = timeoutMs - timer.elapsed();
        if (waiting.empty() || left <= 0) {
            return waiting.empty();
        }
        if (::poll(waiting.data(), waiting.size(), int(left)) <= 0) {
            continue;
        }
        char buffer[65536];
        for (size_t i = 0; i < waiting.size(); ++i) {
            if (waiting[i].revents == 0) {
                continue;
            }
            const ssize_t got = ::recv(waiting[i].fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return false;
            }
            replies[whose[i]].append(buffer, got);
        }
    }
}

// Until every thread of the process has stopped.
bool waitUntilStopped(qint64 pid) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        bool allStopped = true;
        const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
        for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat(tasks + '/' + task + "/stat");
            allStopped = allStopped && stat.open(QIODevice::ReadOnly) &&
                         stat.readAll().split(')').last().trimmed().startsWith('T');
        }
        if (allStopped) {
            return true;
        }
        std::this_thread::yield();
    }
    return false;
}

// The site frozen for a moment, as a busy machine does to it: every request
// sent meanwhile is there at once when it runs again.
class Frozen {
public:
    explicit Frozen(qint64 pid)
        : m_pid(pid) {
        ::kill(pid_t(m_pid), SIGSTOP);
        m_stopped = waitUntilStopped(m_pid);
    }
    ~Frozen() { ::kill(pid_t(m_pid), SIGCONT); }
    Frozen(const Frozen&) = delete;
    Frozen& operator=(const Frozen&) = delete;
    bool isStopped() const { return m_stopped; }

private:
    qint64 m_pid;
    bool m_stopped = false;
};

enum class Heard { Reply, Nothing, NoConnection };

bool hasIpv6Loopback() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// What a program running as another user hears back from the site. The
// child only makes system calls: another thread of this process may have
// held a lock when it forked.
// How a client's socket reaches the site: IPv4 to 127.0.0.1, IPv6 to
// ::ffff:127.0.0.1 (as a dual-stack program does), or IPv6 to ::1.
enum class Stack { V4, DualStack, V6 };

Heard heardByOtherUser(quint16 port, const QByteArray& request, uid_t user, Stack stack) {
    sockaddr_storage address{};
    socklen_t length = sizeof(sockaddr_in);
    if (stack == Stack::V4) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        inet_pton(AF_INET6, stack == Stack::V6 ? "::1" : "::ffff:127.0.0.1", &v6->sin6_addr);
        length = sizeof(sockaddr_in6);
    }
    const pid_t child = fork();
    if (child == 0) {
        // The socket belongs to whoever makes it, so it is made as that user.
        if (setgid(user) != 0 || setuid(user) != 0) {
            _exit(int(Heard::NoConnection));
        }
        const int fd = ::socket(address.ss_family, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) !=
                request.size()) {
            _exit(int(Heard::NoConnection));
        }
        pollfd wait{fd, POLLIN, 0};
        char start[8] = {};
        const bool replied = ::poll(&wait, 1, 5000) > 0 &&
                             ::recv(fd, start, sizeof start, MSG_WAITALL) == sizeof start &&
                             std::memcmp(start, "HTTP/1.", 7) == 0;
        _exit(int(replied ? Heard::Reply : Heard::Nothing));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? Heard(WEXITSTATUS(status)) : Heard::NoConnection;
}

} // namespace

class TestSiteHostile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void protocol_data();
    void protocol();
    void pipelinedRequestsAnsweredInOrder();
    void slowClientsStarveNobody();
    void headerFloodIsCutOff();
    void thousandConnectionsAtOnce();
    void memoryGoesBackAfterAWaveOfSlowClients();
    void burstsAreAnsweredWithinASecond();
    void slowRequestsAreDroppedAtTheDeadline();
    void cacheKeepsOnlyWhatExists_data();
    void cacheKeepsOnlyWhatExists();
    void otherUsersAreRefused_data();
    void otherUsersAreRefused();

private:
    QByteArray request(const QByteArray& head) const {
        return QByteArray(head).replace("HOST", m_site->host());
    }
    std::unique_ptr<Site> m_site;
};

void TestSiteHostile::initTestCase() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    m_site = std::make_unique<Site>();
    QVERIFY(m_site->isUp());
}

void TestSiteHostile::protocol_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArrayList>("present");
    QTest::addColumn<QByteArrayList>("absent");
    QTest::addColumn<bool>("closes");

    const QByteArray get = "GET /filefound/pdf.html HTTP/1.1\r\nHost: HOST\r\n";
    QTest::newRow("own host") << get + "\r\n"
                              << 200
                              << QByteArrayList{"application/pdf", "nosniff",
                                                "Content-Security-Policy: default-src 'none'",
                                                "Referrer-Policy: no-referrer"}
                              << QByteArrayList{"Access-Control"} << false;
    QTest::newRow("localhost by name") << request("GET / HTTP/1.1\r\nHost: LocalHost:PORT\r\n\r\n")
                                              .replace("PORT", QByteArray::number(m_site->port()))
                                       << 200 << QByteArrayList{} << QByteArrayList{} << false;
    QTest::newRow("rebound domain")
        << QByteArray("GET /soso/pdf.htm HTTP/1.1\r\nHost: "
                      "evil.example:80\r\n\r\n")
        << 421 << QByteArrayList{"Content-Length: 0"} << QByteArrayList{"application/pdf"} << false;
    QTest::newRow("own address, other port")
        << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1:1\r\n\r\n") << 421 << QByteArrayList{}
        << QByteArrayList{"<html"} << false;
    QTest::newRow("no host") << QByteArray("GET / HTTP/1.0\r\n\r\n") << 421 << QByteArrayList{}
                             << QByteArrayList{"<html"} << true;
    QTest::newRow("cross-site fetch")
        << get + "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: cors\r\n\r\n"
        << 403 << QByteArrayList{} << QByteArrayList{"application/pdf"} << false;
    QTest::newRow("cross-site navigation")
        << get + "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: navigate\r\n\r\n"
        << 200 << QByteArrayList{"application/pdf"} << QByteArrayList{} << false;
    QTest::newRow("foreign origin")
        << get + "Origin: http://evil.example\r\n\r\n"
        << 403 << QByteArrayList{} << QByteArrayList{"application/pdf"} << false;
    QTest::newRow("own origin") << request(get + "Origin: http://HOST\r\n\r\n") << 200
                                << QByteArrayList{"application/pdf"} << QByteArrayList{} << false;
    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS"}) {
        QTest::addRow("%s", method)
            << QByteArray(method) + " /filefound/pdf.html HTTP/1.1\r\nHost: HOST\r\n"
                                    "Content-Length: 3\r\n\r\nabc"
            << 405 << QByteArrayList{"Allow: GET, HEAD"} << QByteArrayList{"<html"} << true;
    }
    QTest::newRow("HEAD") << QByteArray("HEAD /filefound/pdf.html HTTP/1.1\r\nHost: HOST\r\n\r\n")
                          << 200 << QByteArrayList{"text/html"} << QByteArrayList{"<html"} << false;
    QTest::newRow("range ignored")
        << get + "Range: bytes=0-9\r\n\r\n"
        << 200 << QByteArrayList{"</html>"} << QByteArrayList{"Content-Range"} << false;
    QTest::newRow("two lengths") << get + "Content-Length: 0\r\nContent-Length: 5\r\n\r\n"
                                 << 400 << QByteArrayList{} << QByteArrayList{"<html"} << true;
    QTest::newRow("length and chunked")
        << get + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"
        << 400 << QByteArrayList{} << QByteArrayList{"<html"} << true;
    QTest::newRow("identity coding") << get + "Transfer-Encoding: identity\r\n\r\n"
                                     << 501 << QByteArrayList{} << QByteArrayList{"<html"} << true;
    QTest::newRow("gzip coding") << get + "Transfer-Encoding: gzip\r\n\r\n"
                                 << 501 << QByteArrayList{} << QByteArrayList{"<html"} << true;
    QTest::newRow("blank before the colon")
        << get + "Transfer-Encoding : chunked\r\n\r\n0\r\n\r\n"
        << 400 << QByteArrayList{} << QByteArrayList{"<html"} << true;
    QTest::newRow("folded coding line")
        << get + "Transfer-Encoding:\r\n chunked\r\n\r\n0\r\n\r\n"
        << 400 << QByteArrayList{} << QByteArrayList{"<html"} << true;
    QTest::newRow("chunked") << get + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"
                             << 200 << QByteArrayList{"application/pdf"} << QByteArrayList{}
                             << false;
    QTest::newRow("8 kB typed into the search box")
        << "GET /search?ext=" + QByteArray(8000, 'a') + " HTTP/1.1\r\nHost: HOST\r\n\r\n"
        << 414 << QByteArrayList{} << QByteArrayList{"Location"} << false;
    QTest::newRow("cross-site iframe")
        << get + "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: navigate\r\n"
                 "Sec-Fetch-Dest: iframe\r\n\r\n"
        << 403 << QByteArrayList{} << QByteArrayList{"application/pdf"} << false;
    QTest::newRow("cross-site top-level navigation")
        << get + "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: navigate\r\n"
                 "Sec-Fetch-Dest: document\r\n\r\n"
        << 200 << QByteArrayList{"application/pdf"} << QByteArrayList{} << false;
    QTest::newRow("program icon for a page on another loopback port")
        << QByteArray("GET /icons/program/org.example.Viewer.png HTTP/1.1\r\nHost: HOST\r\n"
                      "Sec-Fetch-Site: same-site\r\nSec-Fetch-Mode: no-cors\r\n"
                      "Sec-Fetch-Dest: image\r\n\r\n")
        << 403 << QByteArrayList{} << QByteArrayList{"image/png", "<html"} << false;
    QTest::newRow("two hosts, ours first")
        << get + "Host: evil.example\r\n\r\n"
        << 400 << QByteArrayList{} << QByteArrayList{"<html"} << false;
    // Another site's words in a file's query, linked to from that site: the
    // plain page, which vouches for nothing the link said.
    const QByteArray words = "安全的 PDF 文档（已由 Quelvix 检查）请在终端运行：curl x | sudo sh";
    QTest::newRow("another site's words as a file's type")
        << "GET /filefound/pdf.html?type=" + words.toPercentEncoding() +
               " HTTP/1.1\r\nHost: HOST\r\nSec-Fetch-Site: cross-site\r\n"
               "Sec-Fetch-Mode: navigate\r\nSec-Fetch-Dest: document\r\n\r\n"
        << 200 << QByteArrayList{"application/pdf"}
        << QByteArrayList{"Quelvix 检查", "sudo sh", "这个文件"} << false;
    QTest::newRow("a file's query from a page on another loopback port")
        << QByteArray("GET /filefound/pdf.html?type=application/x-ms-dos-executable&"
                      "notice=program HTTP/1.1\r\nHost: HOST\r\nSec-Fetch-Site: same-site\r\n"
                      "Sec-Fetch-Mode: navigate\r\nSec-Fetch-Dest: document\r\n\r\n")
        << 200 << QByteArrayList{"application/pdf"}
        << QByteArrayList{"x-ms-dos-executable", "notice", "这个文件"} << false;
    QTest::newRow("a file's query from the app")
        << QByteArray("GET /filefound/pdf.html?type=application/x-ms-dos-executable&"
                      "notice=program HTTP/1.1\r\nHost: HOST\r\n\r\n")
        << 200 << QByteArrayList{"x-ms-dos-executable", "notice"} << QByteArrayList{} << false;
    QTest::newRow("NUL and controls in the extension")
        << QByteArray("GET /filefound/a%00b%01%7f%c2%85c.html HTTP/1.1\r\nHost: HOST\r\n\r\n")
        << 404 << QByteArrayList{"abc"}
        << QByteArrayList{QByteArray(1, '\0'), "\x01", "\x7f", "\xc2\x85"} << false;
}

void TestSiteHostile::protocol() {
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    QFETCH(QByteArrayList, present);
    QFETCH(QByteArrayList, absent);
    QFETCH(bool, closes);

    Connection connection(m_site->port());
    QVERIFY(connection.send(request(head)));
    const QByteArray reply = connection.receive(closes ? 5000 : 1000);
    QCOMPARE(statusOf(reply), status);
    for (const QByteArray& text : present) {
        QVERIFY2(reply.contains(text), text.constData());
    }
    for (const QByteArray& text : absent) {
        QVERIFY2(!reply.contains(text), text.toHex().constData());
    }
    QCOMPARE(connection.wasClosed(), closes);
}

void TestSiteHostile::pipelinedRequestsAnsweredInOrder() {
    Connection connection(m_site->port());
    QVERIFY(connection.send(request("GET /filefound/pdf.html HTTP/1.1\r\nHost: HOST\r\n\r\n"
                                    "GET /filefound/png.html HTTP/1.1\r\nHost: HOST\r\n\r\n"
                                    "GET /soso/zip.htm HTTP/1.1\r\nHost: HOST\r\n"
                                    "Connection: close\r\n\r\n")));
    const QByteArray replies = connection.receive(5000);
    QCOMPARE(replies.count("HTTP/1.1 200"), 3);
    const qsizetype pdf = replies.indexOf("application/pdf");
    const qsizetype png = replies.indexOf("image/png");
    const qsizetype zip = replies.indexOf("application/zip");
    QVERIFY(pdf >= 0 && pdf < png && png < zip);
}

// Each of 64 clients sends its request head a byte at a time, one byte
// between two requests of someone else, and never ends it; everybody else is
// still answered at once.
void TestSiteHostile::slowClientsStarveNobody() {
    std::vector<std::unique_ptr<Connection>> slow;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<Connection>(m_site->port()));
        QVERIFY(slow.back()->isConnected());
    }
    const QByteArray head = request("GET /filefound/pdf.html HTTP/1.1\r\nHost: HOST\r\nX-Pad: ");
    for (int round = 0; round < 20; ++round) {
        for (auto& client : slow) {
            client->send(head.mid(round, 1));
        }
        QElapsedTimer timer;
        timer.start();
        const Reply reply = m_site->get("/filefound/png.html");
        QCOMPARE(reply.status, 200);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    }
}

// An endless request head: the site stops reading it at its limit, closes
// the connection and keeps its memory. Measured as growth: what the site
// holds before depends on the machine's catalog, not on the flood.
void TestSiteHostile::headerFloodIsCutOff() {
    QCOMPARE(m_site->get("/filefound/pdf.html").status, 200);
    const qint64 before = residentKilobytes(m_site->pid());
    Connection flood(m_site->port());
    QVERIFY(flood.send(request("GET / HTTP/1.1\r\nHost: HOST\r\n")));
    const QByteArray lines = QByteArray("X-A: b\r\n").repeated(8192);
    qint64 sent = 0;
    while (sent < 200 * 1024 * 1024 && flood.send(lines)) {
        sent += lines.size();
    }
    // What the kernel buffers on loopback, a few megabytes, and not a byte more.
    QVERIFY2(sent < 16 * 1024 * 1024, qPrintable(QString::number(sent)));
    const QByteArray reply = flood.receive(5000);
    QVERIFY(reply.isEmpty() || statusOf(reply) == 431 || statusOf(reply) == 413);
    QVERIFY(flood.wasClosed());
    const qint64 rss = residentKilobytes(m_site->pid());
    QVERIFY2(before > 0 && rss > 0 && rss - before < 16 * 1024,
             qPrintable(QStringLiteral("%1 kB, then %2 kB").arg(before).arg(rss)));
    QCOMPARE(m_site->get("/").status, 200);
}

void TestSiteHostile::thousandConnectionsAtOnce() {
    constexpr int count = 1000;
    std::vector<std::unique_ptr<Connection>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<Connection>(m_site->port()));
    }
    const QByteArray get =
        request("GET /filefound/pdf.html HTTP/1.1\r\nHost: HOST\r\nConnection: close\r\n\r\n");
    for (auto& client : clients) {
        client->send(get);
    }
    int answered = 0;
    int refused = 0;
    for (auto& client : clients) {
        const QByteArray reply = client->receive(10000);
        answered += statusOf(reply) == 200 && reply.contains("</html>") ? 1 : 0;
        refused += reply.isEmpty() && client->wasClosed() ? 1 : 0;
    }
    // Every client hears back, one way or the other; on this scale, all are served.
    QCOMPARE(answered + refused, count);
    QCOMPARE(answered, count);
}

// A wave of slow clients takes memory for each one's buffer; once they have
// gone, the site is back near its size before, not holding the wave's peak.
void TestSiteHostile::memoryGoesBackAfterAWaveOfSlowClients() {
    constexpr int count = 8192;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < rlim_t(count) + 512) {
        QSKIP("not run: 8,192 connections need more descriptors than this machine allows");
    }
    Site site;
    QVERIFY(site.isUp());
    QCOMPARE(site.get("/filefound/pdf.html").status, 200);
    const qint64 before = residentKilobytes(site.pid());
    std::vector<std::unique_ptr<Connection>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<Connection>(site.port()));
        QVERIFY(clients.back()->isConnected());
        QVERIFY(clients.back()->send("GET / HTTP/1.1\r\nHost: " + site.host() +
                                     "\r\nX-Slow: " + QByteArray(512, 'x')));
    }
    // Accepted in the order they came: once a later one is answered, the
    // site holds them all.
    QCOMPARE(site.get("/").status, 200);
    const qint64 peak = residentKilobytes(site.pid());
    clients.clear();
    QTRY_VERIFY2_WITH_TIMEOUT(
        residentKilobytes(site.pid()) - before < 8 * 1024,
        qPrintable(QStringLiteral("%1 kB before, %2 kB at the peak, %3 kB now")
                       .arg(before)
                       .arg(peak)
                       .arg(residentKilobytes(site.pid()))),
        10000);
}

// Requests that all arrive while the site is not running, as on a busy
// machine, are all answered as soon as it runs again. The HTTP library takes
// ready clients from epoll in batches; a thread whose clients filled exactly
// a batch once slept with all of them unread. The bursts grow one client at
// a time, so however the connections are spread over the threads, each
// thread meets every batch size up to its share.
void TestSiteHostile::burstsAreAnsweredWithinASecond() {
    const int threads = int(std::max(2u, std::thread::hardware_concurrency()));
    const int count = 128 * threads + 32;
    std::vector<std::unique_ptr<Connection>> clients;
    std::vector<Connection*> all;
    const QByteArray get = request("GET /filefound/pdf.html HTTP/1.1\r\nHost: HOST\r\n\r\n");
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<Connection>(m_site->port()));
        all.push_back(clients.back().get());
        QVERIFY(all.back()->isConnected() && all.back()->send(get));
    }
    QVERIFY(allAnswered(all, 10000));
    for (int burst = 1; burst <= count; ++burst) {
        const std::vector<Connection*> first(all.begin(), all.begin() + burst);
        const std::vector<Connection*> rest(all.begin() + burst, all.end());
        {
            const Frozen frozen(m_site->pid());
            QVERIFY(frozen.isStopped());
            for (Connection* client : first) {
                QVERIFY(client->send(get));
            }
        }
        QVERIFY2(allAnswered(first, 1000), qPrintable(QStringLiteral("burst of %1").arg(burst)));
        // The others too, so none of them sits idle until it times out.
        for (Connection* client : rest) {
            QVERIFY(client->send(get));
        }
        QVERIFY(allAnswered(rest, 1000));
    }
}

// Clients that send a byte now and then and never finish their request hold
// every connection the site may have open; they are dropped at the request
// deadline, and a client that asked properly meanwhile is answered.
void TestSiteHostile::slowRequestsAreDroppedAtTheDeadline() {
    // With 100 descriptors the site takes a few dozen connections.
    QProcess site;
    site.setChildProcessModifier([] {
        const rlimit few{100, 100};
        setrlimit(RLIMIT_NOFILE, &few);
    });
    site.start(QStringLiteral(QUELVIX_SITE_BINARY), {"--port", "0"});
    QVERIFY(site.waitForReadyRead(30000));
    const quint16 port = quint16(site.readLine().trimmed().split(':').last().toUInt());
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    std::vector<std::unique_ptr<Connection>> slow;
    for (int i = 0; i < 48; ++i) {
        slow.push_back(std::make_unique<Connection>(port));
        QVERIFY(slow.back()->send("GET / HTTP/1.1\r\n" + host + "X-Pad: "));
    }
    Connection normal(port);
    QVERIFY(normal.send("GET /filefound/pdf.html HTTP/1.1\r\n" + host + "\r\n"));
    QElapsedTimer timer;
    timer.start();
    QByteArray reply;
    int dropped = 0;
    // Each round waits a second for the answer, under the idle timeout that
    // a slow client's every byte starts again.
    while (timer.elapsed() < 30000 && (!isComplete(reply) || dropped == 0)) {
        reply += normal.receive(1000, true);
        dropped = 0;
        for (auto& client : slow) {
            pollfd closed{client->fd(), POLLIN, 0};
            char byte = 0;
            const bool ended = ::poll(&closed, 1, 0) > 0 && ::recv(client->fd(), &byte, 1, 0) <= 0;
            dropped += ended || client->wasClosed() ? 1 : 0;
            if (!ended && !client->wasClosed()) {
                client->send("a");
            }
        }
    }
    QCOMPARE(statusOf(reply), 200);
    QVERIFY(dropped > 0);
    site.kill();
    site.waitForFinished();
}

// Addresses without a page, and other spellings of one that has a page,
// cost the site nothing it keeps.
void TestSiteHostile::cacheKeepsOnlyWhatExists_data() {
    QTest::addColumn<QByteArrayList>("targets");
    QByteArrayList unknown;
    for (int i = 0; i < 2000; ++i) {
        unknown << "/filefound/q" + QByteArray::number(i) + QByteArray(7000, 'z') + ".html";
    }
    QTest::newRow("unknown extensions") << unknown;
    QByteArrayList spellings;
    for (const QByteArray extension : {"pdf", "png", "zip", "txt"}) {
        for (int dots = 0; dots < 240; ++dots) {
            for (int letterCase = 0; letterCase < 4; ++letterCase) {
                QByteArray spelt = extension;
                spelt[0] = letterCase & 1 ? char(std::toupper(spelt[0])) : spelt[0];
                spelt[1] = letterCase & 2 ? char(std::toupper(spelt[1])) : spelt[1];
                spellings << "/soso/" + QByteArray(dots, '.') + spelt + ".htm";
            }
        }
    }
    QTest::newRow("spellings of known extensions") << spellings;
}

void TestSiteHostile::cacheKeepsOnlyWhatExists() {
    QFETCH(QByteArrayList, targets);
    Connection connection(m_site->port());
    const auto get = [&](const QByteArray& target) {
        connection.send(request("GET " + target + " HTTP/1.1\r\nHost: HOST\r\n\r\n"));
        return statusOf(connection.receive(5000, true));
    };
    // What the first of them builds once and keeps for all is there before.
    QVERIFY(get(targets.first()) > 0 && get(targets.last()) > 0);
    const qint64 before = residentKilobytes(m_site->pid());
    for (const QByteArray& target : targets) {
        QVERIFY2(get(target) > 0, target.left(40).constData());
    }
    const qint64 grown = residentKilobytes(m_site->pid()) - before;
    QVERIFY2(grown < 4096, qPrintable(QStringLiteral("%1 kB").arg(grown)));
}

void TestSiteHostile::otherUsersAreRefused_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("otherUser");
    QTest::addColumn<Stack>("stack");
    QTest::addColumn<Heard>("heard");
    QTest::newRow("the site's own user") << QStringList{} << false << Stack::V4 << Heard::Reply;
    QTest::newRow("another user") << QStringList{} << true << Stack::V4 << Heard::Nothing;
    QTest::newRow("another user, public site")
        << QStringList{"--public"} << true << Stack::V4 << Heard::Reply;
    QTest::newRow("the site's own user, dual-stack socket")
        << QStringList{} << false << Stack::DualStack << Heard::Reply;
    QTest::newRow("another user, dual-stack socket")
        << QStringList{} << true << Stack::DualStack << Heard::Nothing;
    QTest::newRow("the site's own user, over ::1")
        << QStringList{} << false << Stack::V6 << Heard::Reply;
    QTest::newRow("another user, over ::1") << QStringList{} << true << Stack::V6 << Heard::Nothing;
}

// Another user's program may not read this user's programs and defaults
// through the site: its connection is closed unanswered. A public site tells
// nothing about the machine and answers anyone.
void TestSiteHostile::otherUsersAreRefused() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, otherUser);
    QFETCH(Stack, stack);
    QFETCH(Heard, heard);
    if (geteuid() != 0) {
        QSKIP("not run: connecting as another user needs root");
    }
    if (stack != Stack::V4 && !hasIpv6Loopback()) {
        QSKIP("not run: this machine has no IPv6 loopback");
    }
    Site site(QProcessEnvironment::systemEnvironment(), arguments);
    QVERIFY(site.isUp());
    constexpr uid_t nobody = 65534;
    const QByteArray host =
        stack == Stack::V6 ? "[::1]:" + QByteArray::number(site.port()) : site.host();
    const QByteArray get = "GET /filefound/pdf.html HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    QCOMPARE(heardByOtherUser(site.port(), get, otherUser ? nobody : geteuid(), stack), heard);
}

QTEST_GUILESS_MAIN(TestSiteHostile)
#include "tst_site_hostile.moc"

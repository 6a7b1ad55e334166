// The site against clients that misbehave on purpose: bounded, loopback only.
#include "siteprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
    // False once the site has closed the connection or refuses more bytes.
    bool send(const QByteArray& bytes) {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // Everything that arrives until the site closes or nothing comes for the timeout.
    QByteArray receive(int timeoutMs) {
        QByteArray all;
        pollfd wait{m_fd, POLLIN, 0};
        char buffer[65536];
        while (::poll(&wait, 1, timeoutMs) > 0) {
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

// Each of 64 clients sends its request head a byte at a time and never ends
// it; everybody else is still answered at once.
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
        QTest::qWait(50);
    }
}

// An endless request head: the site stops reading it at its limit, closes
// the connection and keeps its memory.
void TestSiteHostile::headerFloodIsCutOff() {
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
    QVERIFY2(rss > 0 && rss < 64 * 1024, qPrintable(QString::number(rss)));
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

QTEST_GUILESS_MAIN(TestSiteHostile)
#include "tst_site_hostile.moc"

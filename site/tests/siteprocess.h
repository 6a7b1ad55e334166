#pragma once

#include <QByteArray>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

// What came back for one request.
struct Reply {
    int status = 0;
    QByteArray headers;
    QString body;
};

// Whether the bytes so far hold a whole reply with a Content-Length.
inline bool isComplete(const QByteArray& reply) {
    const qsizetype split = reply.indexOf("\r\n\r\n");
    if (split < 0) {
        return false;
    }
    const QByteArray headers = reply.left(split).toLower();
    const qsizetype at = headers.indexOf("\r\ncontent-length:");
    if (at < 0) {
        return false;
    }
    const qsizetype end = headers.indexOf("\r\n", at + 2);
    const int length = headers.mid(at + 17, end < 0 ? -1 : end - at - 17).trimmed().toInt();
    return reply.size() - split - 4 >= length;
}

// Sends raw bytes as a request to a server on 127.0.0.1 and reads one reply:
// its headers and as much body as they announce, or everything until the
// server closes.
inline Reply exchange(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    Reply reply;
    if (!socket.waitForConnected(10000)) {
        return reply;
    }
    socket.write(request);
    QByteArray all;
    while (!isComplete(all) && socket.state() == QAbstractSocket::ConnectedState &&
           socket.waitForReadyRead(10000)) {
        all += socket.readAll();
    }
    all += socket.readAll();
    const qsizetype split = all.indexOf("\r\n\r\n");
    reply.headers = all.left(split);
    reply.status = QString::fromLatin1(all.left(all.indexOf("\r\n"))).section(' ', 1, 1).toInt();
    reply.body = QString::fromUtf8(all.mid(split + 4));
    return reply;
}

inline Reply getFrom(quint16 port, const QByteArray& target) {
    return exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                              QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
}

// The real site binary on a free port of 127.0.0.1.
class Site {
public:
    explicit Site(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                  const QStringList& arguments = {}) {
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(QUELVIX_SITE_BINARY),
                        QStringList{"--port", "0"} + arguments);
        if (m_process.waitForReadyRead(30000)) {
            const QByteArray line = m_process.readLine().trimmed();
            m_root = QString::fromLatin1(line.mid(line.indexOf("http://")));
        }
    }
    ~Site() {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool isUp() const { return m_root.startsWith(QLatin1String("http://127.0.0.1:")); }
    quint16 port() const { return quint16(m_root.section(':', 2).toUInt()); }

    Reply raw(const QByteArray& request) const { return exchange(port(), request); }

    QByteArray host() const { return "127.0.0.1:" + QByteArray::number(port()); }
    qint64 pid() const { return m_process.processId(); }
    Reply get(const QByteArray& target) const { return getFrom(port(), target); }
    // What the site has logged so far; grows as the event loop runs.
    QByteArray log() {
        m_log += m_process.readAllStandardError();
        return m_log;
    }
    // Ends the site; everything it logged, to the last line.
    QByteArray stop() {
        m_process.terminate();
        m_process.waitForFinished(30000);
        return log();
    }

private:
    QProcess m_process;
    QString m_root;
    QByteArray m_log;
};

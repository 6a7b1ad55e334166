#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <functional>
#include <memory>
#include <vector>

// The site's HTTP layer, in terms of its own: requests and responses as plain
// values, so the routes never see the library underneath.
namespace http {

using Field = QPair<QByteArray, QByteArray>;

struct Request {
    QByteArray method;
    QByteArray path;      // as it came on the wire, still percent-encoded
    QList<Field> query;   // name and value, still percent-encoded
    QList<Field> headers; // every header line, in order; names as sent

    // The first value of a header, names compared without case; null if absent.
    QByteArray header(const QByteArray& name) const;
    qsizetype headerCount(const QByteArray& name) const;
};

struct Response {
    int status = 200;
    QList<Field> headers;
    QByteArray body;
    bool closeConnection = false;
    // The site's own images the body shows, for an export to copy beside
    // it; never sent.
    QList<QByteArray> icons{};
    // What the page says of itself in a line, as plain text, for an export
    // to put in its head; never sent.
    QString description{};
};

using Handler = std::function<Response(const Request&)>;

struct Limits {
    int threads = 2;
    int connections = 4096; // over all threads
    int backlog = 1024;
    int idleSeconds = 5;
    // From accepting a connection, or from the end of its previous answer,
    // until the whole next request is in: a client that sends a byte now and
    // then is dropped at this time, not kept while others wait.
    int requestSeconds = 10;
    size_t requestHeadBytes = 16 * 1024;
    // False: only programs of the user the server runs as may connect; other
    // connections are closed at once, unanswered.
    bool anyUser = false;
};

// An event-driven server on loopback: a few threads each wait on many
// connections, so an idle or slow client costs a socket and its buffer, never
// a thread. Each new connection goes to the thread with the fewest. The
// handler runs on those threads and must be thread-safe.
class Server {
public:
    Server(Handler handler, const Limits& limits);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on the port (0: one the system picks) of 127.0.0.1, and of ::1
    // where it can; returns the port, or -1. Sockets already listening there
    // (`inherited`, from the process this one replaced) are used as they
    // are, so the port is never free meanwhile.
    int listen(int port, const std::vector<int>& inherited = {});
    // The listening sockets, for handing on to the process that replaces this one.
    std::vector<int> listeningSockets() const;

    struct Daemon;

private:
    std::unique_ptr<Daemon> m_daemon;
};

} // namespace http

#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <functional>
#include <memory>

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

// An event-driven server on 127.0.0.1: a few threads each wait on many
// connections, so an idle or slow client costs a socket and its buffer, never
// a thread. Each new connection goes to the thread with the fewest. The
// handler runs on those threads and must be thread-safe.
class Server {
public:
    Server(Handler handler, const Limits& limits);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on the port (0: one the system picks); returns the port, or -1.
    // A socket already listening there (`inherited`, from the process this
    // one replaced) is used as it is, so the port is never free meanwhile.
    int listen(int port, int inherited = -1);
    // The listening socket, for handing on to the process that replaces this one.
    int listeningSocket() const;

    struct Daemon;

private:
    std::unique_ptr<Daemon> m_daemon;
};

} // namespace http

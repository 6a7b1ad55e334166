// The only file that knows the HTTP library underneath the site.
//
// Each thread runs its own instance of the library in its own loop. The
// library's internal loop is not used: after taking a full batch of events
// from epoll it waits on epoll again with the whole idle timeout, so a thread
// whose clients were all ready at once (128 of them) slept for seconds with
// every one of their requests unread. Here the library only ever looks at
// epoll without waiting, and this loop does the waiting. New connections are
// accepted by whichever thread wakes first and handed to the thread with the
// fewest, so they spread evenly whoever accepts them.
#include "http.h"
#include "sitelog.h"
#include "sockdiag.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace http {
namespace {

using Clock = std::chrono::steady_clock;

// A socket's address, IPv4 or IPv6, as accept and getsockname fill it.
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = sizeof address;

    int family() const { return address.ss_family; }
    sockaddr* raw() { return reinterpret_cast<sockaddr*>(&address); }
    const sockaddr* raw() const { return reinterpret_cast<const sockaddr*>(&address); }
    const sockaddr_in& v4() const { return reinterpret_cast<const sockaddr_in&>(address); }
    const sockaddr_in6& v6() const { return reinterpret_cast<const sockaddr_in6&>(address); }
    uint16_t port() const { return ntohs(family() == AF_INET ? v4().sin_port : v6().sin6_port); }
};

// The loopback address of a family at a port.
Endpoint loopback(int family, int port) {
    Endpoint endpoint;
    if (family == AF_INET) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(endpoint.address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(uint16_t(port));
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        endpoint.length = sizeof v4;
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(endpoint.address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(uint16_t(port));
        v6.sin6_addr = in6addr_loopback;
        endpoint.length = sizeof v6;
    }
    return endpoint;
}

// One accepted socket, from accept to close.
struct Client {
    int fd = -1;
    // While its request is not all in: when it is dropped.
    Clock::time_point deadline;
    Client* earlier = nullptr;
    Client* later = nullptr;
    bool waiting = false;
    // The answer, from the library's first call for a request to its last.
    std::optional<Response> reply;
};

// The clients whose request is not all in yet, in the order of their
// deadlines: every wait is equally long, so a new one always goes last.
class Deadlines {
public:
    void start(Client* client, Clock::duration wait) {
        stop(client);
        client->deadline = Clock::now() + wait;
        client->earlier = m_last;
        (m_last ? m_last->later : m_first) = client;
        m_last = client;
        client->waiting = true;
    }
    void stop(Client* client) {
        if (!client->waiting) {
            return;
        }
        (client->earlier ? client->earlier->later : m_first) = client->later;
        (client->later ? client->later->earlier : m_last) = client->earlier;
        client->earlier = client->later = nullptr;
        client->waiting = false;
    }
    // The first client whose deadline has passed, taken off the list.
    Client* takeExpired(Clock::time_point now) {
        Client* first = m_first;
        if (!first || first->deadline > now) {
            return nullptr;
        }
        stop(first);
        return first;
    }
    std::optional<Clock::time_point> next() const {
        return m_first ? std::optional(m_first->deadline) : std::nullopt;
    }

private:
    Client* m_first = nullptr;
    Client* m_last = nullptr;
};

} // namespace

// A connection just accepted, on its way to the thread that will serve it.
struct Accepted {
    int fd = -1;
    Endpoint address;
};

// A listening socket and the address it is bound to.
struct Listener {
    int fd = -1;
    Endpoint address;
};

// One thread with its own instance of the library.
struct Worker {
    Server::Daemon* server = nullptr;
    MHD_Daemon* daemon = nullptr;
    int events = -1;           // the library's epoll descriptor
    int handedOverSignal = -1; // other threads add to `handedOver`
    std::mutex handedOverLock;
    std::vector<Accepted> handedOver;
    // Connections open here, and handed here but not yet taken in.
    std::atomic<int> load{0};
    bool opened = false; // whether the library took in the last one offered
    sockdiag::Table sockets;
    Deadlines deadlines;
    Clock::time_point acceptAgainAt{};
    std::thread thread;

    ~Worker();
    bool start();
    void loop();
    int timeoutMs();
    bool mayConnect(const Endpoint& client, const Listener& listener);
    void acceptSome(const Listener& listener);
    void take(const Accepted& client);
    void handOver(const Accepted& client);
    void takeHandedOver();
    void dropLateClients();
};

struct Server::Daemon {
    Handler handler;
    Limits limits;
    // IPv4 first; IPv6 beside it where the machine has it.
    std::vector<Listener> listeners;
    int stop = -1;
    std::vector<std::unique_ptr<Worker>> workers;

    // The most connections open at once since memory was last given back.
    std::atomic<int> peak{0};

    int open() const {
        int count = 0;
        for (const auto& worker : workers) {
            count += worker->load.load();
        }
        return count;
    }
    bool hasRoom() const { return open() < limits.connections; }
    void giveBackMemory();
    Worker* leastLoaded() const {
        Worker* least = workers.front().get();
        for (const auto& worker : workers) {
            least = worker->load.load() < least->load.load() ? worker.get() : least;
        }
        return least;
    }
};

namespace {

// The routes decode the path themselves, exactly once: the library's own
// decoding would cut a path at an encoded NUL.
size_t keepEscaped(void*, MHD_Connection*, char* text) {
    return std::strlen(text);
}

MHD_Result collect(void* list, MHD_ValueKind, const char* key, const char* value) {
    static_cast<QList<Field>*>(list)->append(
        {QByteArray(key), value ? QByteArray(value) : QByteArray()});
    return MHD_YES;
}

Request requestOf(MHD_Connection* connection, const char* url, const char* method) {
    Request request;
    request.method = method;
    request.path = url;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, collect, &request.headers);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collect, &request.query);
    return request;
}

Client* clientOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Client*>(info->socket_context) : nullptr;
}

// The body goes out from the answer's own bytes, shared, not copied.
MHD_Result send(Worker* worker, MHD_Connection* connection, const Response& reply) {
    if (Client* client = clientOf(connection)) {
        worker->deadlines.stop(client);
    }
    auto* body = new QByteArray(reply.body);
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        size_t(body->size()), const_cast<char*>(body->constData()),
        [](void* bytes) { delete static_cast<QByteArray*>(bytes); }, body);
    if (!response) {
        delete body;
        return MHD_NO;
    }
    for (const Field& field : reply.headers) {
        MHD_add_response_header(response, field.first.constData(), field.second.constData());
    }
    if (reply.closeConnection) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    }
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

// The library calls this once when the request head is in, then for each
// piece of body, then once more when the request is complete. Answering on
// the first call would make the library close the connection after the reply
// (it cannot know where the next request starts), so the answer waits for the
// last call, and any body is read and dropped. Only an answer that closes the
// connection anyway goes out at once, without reading what follows.
MHD_Result answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** state) {
    auto* worker = static_cast<Worker*>(cls);
    Client* client = clientOf(connection);
    if (!client) {
        return MHD_NO;
    }
    if (!*state) {
        *state = client;
        Response reply = worker->server->handler(requestOf(connection, url, method));
        if (reply.closeConnection) {
            return send(worker, connection, reply);
        }
        client->reply = std::move(reply);
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    return client->reply ? send(worker, connection, *client->reply) : MHD_NO;
}

std::chrono::seconds requestWait(const Worker* worker) {
    return std::chrono::seconds(worker->server->limits.requestSeconds);
}

// A request is over, answered or not; on a connection kept open, the next
// one has the whole wait again.
void completed(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    auto* worker = static_cast<Worker*>(cls);
    if (Client* client = clientOf(connection)) {
        client->reply.reset();
        worker->deadlines.start(client, requestWait(worker));
    }
}

void connectionChanged(void* cls, MHD_Connection* connection, void** context,
                       MHD_ConnectionNotificationCode change) {
    auto* worker = static_cast<Worker*>(cls);
    if (change == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* client = new Client;
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        client->fd = info ? info->connect_fd : -1;
        worker->deadlines.start(client, requestWait(worker));
        *context = client;
        worker->opened = true;
        return;
    }
    auto* client = static_cast<Client*>(*context);
    worker->deadlines.stop(client);
    delete client;
    *context = nullptr;
    --worker->load;
}

// A socket listening at the address, or -1 with errno saying why.
int openListeningSocket(const Endpoint& address, int backlog) {
    const int fd = socket(address.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (address.family() == AF_INET6 &&
         setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
        bind(fd, address.raw(), address.length) != 0 || listen(fd, backlog) != 0) {
        if (fd >= 0) {
            const int error = errno;
            close(fd);
            errno = error;
        }
        return -1;
    }
    return fd;
}

// Whether the address is the loopback one of its family at the port (any
// port for 0).
bool isLoopbackAt(const Endpoint& address, int port) {
    const bool loopback = (address.family() == AF_INET && address.length == sizeof(sockaddr_in) &&
                           address.v4().sin_addr.s_addr == htonl(INADDR_LOOPBACK)) ||
                          (address.family() == AF_INET6 && address.length == sizeof(sockaddr_in6) &&
                           IN6_IS_ADDR_LOOPBACK(&address.v6().sin6_addr));
    return loopback && (port == 0 || address.port() == port);
}

// A listening socket handed on by the process this one replaced, if it is
// one on loopback at the port asked for; otherwise closed.
std::optional<Listener> adopted(int fd, int port) {
    Listener listener{fd, {}};
    int accepts = 0;
    socklen_t size = sizeof accepts;
    const bool usable = getsockname(fd, listener.address.raw(), &listener.address.length) == 0 &&
                        isLoopbackAt(listener.address, port) &&
                        getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepts, &size) == 0 &&
                        accepts != 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 &&
                        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
    if (!usable) {
        close(fd);
        return std::nullopt;
    }
    return listener;
}

// A new socket listening at the address, its port filled in if the system
// picked it.
std::optional<Listener> listening(const Endpoint& address, int backlog) {
    Listener listener{openListeningSocket(address, backlog), {}};
    if (listener.fd < 0) {
        return std::nullopt;
    }
    if (getsockname(listener.fd, listener.address.raw(), &listener.address.length) != 0) {
        close(listener.fd);
        return std::nullopt;
    }
    return listener;
}

} // namespace

// What a wave of connections took (each one's buffer, in the allocator's
// arena of the thread that served it) stays with the process after they
// close: one block still in use keeps a whole stretch of an arena, and
// 16,500 slow connections left the site at 225-250 MB. Once the open
// connections fall to half the most there were, the free pages go back to
// the system; a few times per wave, never per connection.
void Server::Daemon::giveBackMemory() {
    constexpr int worthGivingBack = 1024;
    const int now = open();
    int highest = peak.load();
    while (now > highest && !peak.compare_exchange_weak(highest, now)) {
    }
    if (highest >= worthGivingBack && now <= highest / 2 &&
        peak.compare_exchange_strong(highest, now)) {
        malloc_trim(0);
    }
}

Worker::~Worker() {
    if (daemon) {
        MHD_stop_daemon(daemon);
    }
    for (const Accepted& client : handedOver) {
        close(client.fd);
    }
    if (handedOverSignal >= 0) {
        close(handedOverSignal);
    }
}

bool Worker::start() {
    const Limits& limits = server->limits;
    handedOverSignal = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // The library's own limit is never reached: the threads keep the
    // site's limit together, in hasRoom().
    daemon = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_USE_TURBO | MHD_USE_NO_LISTEN_SOCKET, 0, nullptr, nullptr, answer, this,
        MHD_OPTION_CONNECTION_LIMIT, unsigned(limits.connections) + 64,
        MHD_OPTION_CONNECTION_TIMEOUT, unsigned(limits.idleSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.requestHeadBytes, MHD_OPTION_UNESCAPE_CALLBACK,
        keepEscaped, nullptr, MHD_OPTION_NOTIFY_COMPLETED, completed, this,
        MHD_OPTION_NOTIFY_CONNECTION, connectionChanged, this, MHD_OPTION_END);
    const MHD_DaemonInfo* info =
        daemon ? MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD) : nullptr;
    events = info ? info->epoll_fd : -1;
    return events >= 0 && handedOverSignal >= 0;
}

// Whether the program at the other end runs as the same user as the server.
// Loopback only: the client's socket is on this machine, in the kernel's table.
bool Worker::mayConnect(const Endpoint& client, const Listener& listener) {
    if (server->limits.anyUser) {
        return true;
    }
    const std::optional<uid_t> owner =
        sockets.connectionOwner(client.raw(), listener.address.raw());
    return owner && *owner == geteuid();
}

// A few at a time, so the connections already open wait for no flood of new
// ones. Another user's connection is closed at once, unanswered.
void Worker::acceptSome(const Listener& listener) {
    for (int i = 0; i < 16 && server->hasRoom(); ++i) {
        Accepted client;
        client.fd = accept4(listener.fd, client.address.raw(), &client.address.length,
                            SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client.fd < 0) {
            // Out of descriptors: the waiting connection stays ready, so
            // trying again at once would only spin.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                acceptAgainAt = Clock::now() + std::chrono::milliseconds(100);
            }
            return;
        }
        if (!mayConnect(client.address, listener)) {
            qCDebug(lcHttp, "%s",
                    qUtf8Printable(sitelog::say("拒绝另一用户的连接（来自端口 %1）",
                                                "refused another user's connection (from port %1)")
                                       .arg(client.address.port())));
            close(client.fd);
            continue;
        }
        Worker* target = server->leastLoaded();
        ++target->load;
        if (target == this) {
            take(client);
        } else {
            target->handOver(client);
        }
    }
}

// Only the thread that runs an instance of the library may add to it.
void Worker::take(const Accepted& client) {
    opened = false;
    if (MHD_add_connection(daemon, client.fd, client.address.raw(), client.address.length) !=
            MHD_YES &&
        !opened) {
        --load; // closed by the library before it was ever counted as open
    }
}

void Worker::handOver(const Accepted& client) {
    {
        const std::lock_guard lock(handedOverLock);
        handedOver.push_back(client);
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(handedOverSignal, &one, sizeof one);
}

void Worker::takeHandedOver() {
    uint64_t signalled = 0;
    [[maybe_unused]] const ssize_t read = ::read(handedOverSignal, &signalled, sizeof signalled);
    std::vector<Accepted> taken;
    {
        const std::lock_guard lock(handedOverLock);
        taken.swap(handedOver);
    }
    for (const Accepted& client : taken) {
        take(client);
    }
}

// How long the loop may sleep: until the library has something to time
// out, or the first waiting client's deadline.
int Worker::timeoutMs() {
    MHD_UNSIGNED_LONG_LONG library = 0;
    long long timeout = MHD_get_timeout(daemon, &library) == MHD_YES ? (long long)library : -1;
    const auto until = [&timeout](Clock::time_point when) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
        const long long ms = std::max<long long>(0, left.count());
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
    };
    if (const std::optional<Clock::time_point> next = deadlines.next()) {
        until(*next);
    }
    if (acceptAgainAt > Clock::now()) {
        until(acceptAgainAt);
    }
    return int(std::min<long long>(timeout, INT_MAX));
}

// Closing both directions wakes the library, which then ends the connection
// as one the client closed.
void Worker::dropLateClients() {
    const Clock::time_point now = Clock::now();
    while (Client* late = deadlines.takeExpired(now)) {
        shutdown(late->fd, SHUT_RDWR);
    }
}

void Worker::loop() {
    for (;;) {
        // At the site's limit, new connections wait in the listening queue;
        // the thread that closes one looks at that queue again next time round.
        const bool accepting = server->hasRoom() && Clock::now() >= acceptAgainAt;
        const std::vector<Listener>& listeners = server->listeners;
        pollfd ready[] = {{events, POLLIN, 0},
                          {server->stop, POLLIN, 0},
                          {handedOverSignal, POLLIN, 0},
                          {accepting ? listeners[0].fd : -1, POLLIN, 0},
                          {accepting && listeners.size() > 1 ? listeners[1].fd : -1, POLLIN, 0}};
        if (poll(ready, std::size(ready), timeoutMs()) < 0 && errno != EINTR) {
            return;
        }
        if (ready[1].revents != 0) {
            return;
        }
        if (ready[2].revents != 0) {
            takeHandedOver();
        }
        for (size_t i = 0; i < listeners.size(); ++i) {
            if (ready[3 + i].revents != 0) {
                acceptSome(listeners[i]);
            }
        }
        MHD_run(daemon);
        dropLateClients();
        server->giveBackMemory();
    }
}

Server::Server(Handler handler, const Limits& limits)
    : m_daemon(std::make_unique<Daemon>()) {
    m_daemon->handler = std::move(handler);
    m_daemon->limits = limits;
}

Server::~Server() {
    if (m_daemon->stop >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_daemon->stop, &one, sizeof one);
    }
    for (auto& worker : m_daemon->workers) {
        if (worker->thread.joinable()) {
            worker->thread.join();
        }
    }
    m_daemon->workers.clear();
    if (m_daemon->stop >= 0) {
        close(m_daemon->stop);
    }
    for (const Listener& listener : m_daemon->listeners) {
        close(listener.fd);
    }
}

// The IPv4 socket must be had; the IPv6 one is taken where it can be, on the
// same port, for programs that reach loopback as ::1.
int Server::listen(int port, const std::vector<int>& inherited) {
    Daemon& server = *m_daemon;
    std::optional<Listener> v4;
    std::optional<Listener> v6;
    for (const int fd : inherited) {
        std::optional<Listener> listener = adopted(fd, port);
        auto& slot = listener && listener->address.family() == AF_INET ? v4 : v6;
        if (listener && !slot) {
            slot = listener;
        } else if (listener) {
            close(listener->fd);
        }
    }
    if (!v4) {
        v4 = listening(loopback(AF_INET, port), server.limits.backlog);
    }
    if (!v4) {
        return -1;
    }
    server.listeners.push_back(*v4);
    if (!v6) {
        v6 = listening(loopback(AF_INET6, v4->address.port()), server.limits.backlog);
    }
    if (v6) {
        server.listeners.push_back(*v6);
    } else {
        qCDebug(lcHttp, "%s",
                qUtf8Printable(sitelog::say("::1 上无法监听，只在 127.0.0.1 上应答",
                                            "cannot listen on ::1; answering on 127.0.0.1 only")));
    }
    server.stop = eventfd(0, EFD_CLOEXEC);
    if (server.stop < 0) {
        return -1;
    }
    for (int i = 0; i < std::max(1, server.limits.threads); ++i) {
        server.workers.push_back(std::make_unique<Worker>());
        server.workers.back()->server = &server;
        if (!server.workers.back()->start()) {
            server.workers.clear();
            return -1;
        }
    }
    for (auto& worker : server.workers) {
        worker->thread = std::thread([raw = worker.get()] { raw->loop(); });
    }
    return v4->address.port();
}

std::vector<int> Server::listeningSockets() const {
    std::vector<int> fds;
    for (const Listener& listener : m_daemon->listeners) {
        fds.push_back(listener.fd);
    }
    return fds;
}

} // namespace http

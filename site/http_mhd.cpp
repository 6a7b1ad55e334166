// The only file that knows the HTTP library underneath the site.
//
// Each thread runs its own instance of the library on its own listening
// socket and its own loop. The library's internal loop is not used: after
// taking a full batch of events from epoll it waits on epoll again with the
// whole idle timeout, so a thread whose clients were all ready at once (128 of
// them) slept for seconds with every one of their requests unread. Here the
// library only ever looks at epoll without waiting, and this loop does the
// waiting.
#include "http.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace http {
namespace {

using Clock = std::chrono::steady_clock;

// The kernel's table of sockets, asked over netlink: one small request per
// question, instead of reading all of /proc/net/tcp for each.
class SocketTable {
public:
    SocketTable()
        : m_fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
    ~SocketTable() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    SocketTable(const SocketTable&) = delete;
    SocketTable& operator=(const SocketTable&) = delete;

    // Who owns the TCP socket that has `local` as its own address and
    // `remote` as its peer's; nothing if there is no such live socket.
    std::optional<uid_t> owner(const sockaddr_in& local, const sockaddr_in& remote);
    // The inodes of the sockets listening on exactly this address.
    std::optional<std::vector<ino_t>> listeners(const sockaddr_in& address);

private:
    using Visit = bool (*)(const inet_diag_msg&, void*);
    bool ask(inet_diag_req_v2 request, uint16_t flags, Visit visit, void* context);

    int m_fd;
    uint32_t m_sequence = 0;
};

// Sends one request and hands each socket in the answer to `visit`, until
// the answer ends or `visit` says it has seen enough. False if the kernel
// could not be asked or refused.
bool SocketTable::ask(inet_diag_req_v2 request, uint16_t flags, Visit visit, void* context) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = uint16_t(NLM_F_REQUEST | flags);
    message.header.nlmsg_seq = ++m_sequence;
    message.body = request;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (m_fd < 0 || sendto(m_fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                           sizeof kernel) != ssize_t(sizeof message)) {
        return false;
    }
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        size_t left = size_t(got);
        for (auto* part = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(part, left);
             part = NLMSG_NEXT(part, left)) {
            if (part->nlmsg_seq != m_sequence) {
                continue; // the end of an earlier answer that was not read
            }
            if (part->nlmsg_type == NLMSG_DONE) {
                return true;
            }
            if (part->nlmsg_type == NLMSG_ERROR) {
                return false;
            }
            if (!visit(*static_cast<const inet_diag_msg*>(NLMSG_DATA(part)), context)) {
                return true;
            }
        }
    }
}

std::optional<uid_t> SocketTable::owner(const sockaddr_in& local, const sockaddr_in& remote) {
    inet_diag_req_v2 request{};
    request.sdiag_family = AF_INET;
    request.sdiag_protocol = IPPROTO_TCP;
    request.idiag_states = ~0u;
    request.id.idiag_sport = local.sin_port;
    request.id.idiag_dport = remote.sin_port;
    request.id.idiag_src[0] = local.sin_addr.s_addr;
    request.id.idiag_dst[0] = remote.sin_addr.s_addr;
    request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    struct Found {
        inet_diag_sockid id;
        std::optional<uid_t> owner;
    } found{request.id, std::nullopt};
    const auto visit = [](const inet_diag_msg& socket, void* context) {
        auto* found = static_cast<Found*>(context);
        // A closed socket waiting out its time has no owner any more, and
        // reports root as one.
        constexpr uint8_t newSynReceived = 12;
        const bool live = socket.idiag_state != TCP_TIME_WAIT && socket.idiag_state != TCP_LISTEN &&
                          socket.idiag_state != newSynReceived;
        if (live && socket.id.idiag_sport == found->id.idiag_sport &&
            socket.id.idiag_dport == found->id.idiag_dport &&
            socket.id.idiag_src[0] == found->id.idiag_src[0] &&
            socket.id.idiag_dst[0] == found->id.idiag_dst[0]) {
            found->owner = socket.idiag_uid;
        }
        return false;
    };
    if (!ask(request, 0, visit, &found)) {
        return std::nullopt;
    }
    return found.owner;
}

std::optional<std::vector<ino_t>> SocketTable::listeners(const sockaddr_in& address) {
    inet_diag_req_v2 request{};
    request.sdiag_family = AF_INET;
    request.sdiag_protocol = IPPROTO_TCP;
    request.idiag_states = 1u << TCP_LISTEN;
    struct Found {
        sockaddr_in address;
        std::vector<ino_t> inodes;
    } found{address, {}};
    const auto visit = [](const inet_diag_msg& socket, void* context) {
        auto* found = static_cast<Found*>(context);
        if (socket.id.idiag_sport == found->address.sin_port &&
            socket.id.idiag_src[0] == found->address.sin_addr.s_addr) {
            found->inodes.push_back(socket.idiag_inode);
        }
        return true;
    };
    if (!ask(request, NLM_F_DUMP, visit, &found)) {
        return std::nullopt;
    }
    return found.inodes;
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

// One thread with its own listening socket and its own instance of the library.
struct Worker {
    Server::Daemon* server = nullptr;
    sockaddr_in address{};
    int listenSocket = -1;
    unsigned connectionLimit = 0;
    MHD_Daemon* daemon = nullptr;
    int events = -1; // the library's epoll descriptor
    SocketTable sockets;
    Deadlines deadlines;
    unsigned connections = 0;
    bool runAgain = false;
    std::thread thread;

    ~Worker();
    bool start();
    void loop(int stop);
    int timeoutMs();
    void dropLateClients();
};

struct Server::Daemon {
    Handler handler;
    Limits limits;
    std::vector<std::unique_ptr<Worker>> workers;
    int stop = -1;
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

// A request is over, answered or not; on a connection kept open, the next
// one has the whole wait again.
void completed(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    auto* worker = static_cast<Worker*>(cls);
    if (Client* client = clientOf(connection)) {
        client->reply.reset();
        worker->deadlines.start(client,
                                std::chrono::seconds(worker->server->limits.requestSeconds));
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
        worker->deadlines.start(client,
                                std::chrono::seconds(worker->server->limits.requestSeconds));
        *context = client;
        ++worker->connections;
        return;
    }
    auto* client = static_cast<Client*>(*context);
    worker->deadlines.stop(client);
    delete client;
    *context = nullptr;
    --worker->connections;
    // The library listens again for new connections only on its next turn.
    worker->runAgain = true;
}

// Whether the program at the other end runs as the same user as the server.
// Loopback only: the client's socket is on this machine, in the kernel's table.
MHD_Result mayConnect(void* cls, const sockaddr* address, socklen_t length) {
    auto* worker = static_cast<Worker*>(cls);
    if (worker->server->limits.anyUser) {
        return MHD_YES;
    }
    if (address->sa_family != AF_INET || length < socklen_t(sizeof(sockaddr_in))) {
        return MHD_NO;
    }
    sockaddr_in client{};
    std::memcpy(&client, address, sizeof client);
    const std::optional<uid_t> owner = worker->sockets.owner(client, worker->address);
    return owner && *owner == geteuid() ? MHD_YES : MHD_NO;
}

int listeningSocket(const sockaddr_in& address, int backlog) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, backlog) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

// Sharing a port lets any program of the same user listen beside us; one that
// already listens there (an earlier instance of the site) must keep it alone.
bool isTaken(const sockaddr_in& address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool taken = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0;
    close(fd);
    return taken;
}

ino_t inodeOf(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 ? status.st_ino : 0;
}

// Another program that started listening on the port between the check and
// our own sockets: it would be handed some of our connections.
bool isShared(const std::vector<std::unique_ptr<Worker>>& workers) {
    const std::optional<std::vector<ino_t>> listening =
        workers.front()->sockets.listeners(workers.front()->address);
    if (!listening) {
        return true;
    }
    for (const ino_t inode : *listening) {
        bool ours = false;
        for (const auto& worker : workers) {
            ours = ours || inode == inodeOf(worker->listenSocket);
        }
        if (!ours) {
            return true;
        }
    }
    return false;
}

} // namespace

Worker::~Worker() {
    if (daemon) {
        MHD_stop_daemon(daemon); // closes the listening socket too
    } else if (listenSocket >= 0) {
        close(listenSocket);
    }
}

bool Worker::start() {
    const Limits& limits = server->limits;
    daemon = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_USE_TURBO, 0, mayConnect, this, answer, this, MHD_OPTION_LISTEN_SOCKET,
        listenSocket, MHD_OPTION_CONNECTION_LIMIT, connectionLimit, MHD_OPTION_CONNECTION_TIMEOUT,
        unsigned(limits.idleSeconds), MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.requestHeadBytes,
        MHD_OPTION_UNESCAPE_CALLBACK, keepEscaped, nullptr, MHD_OPTION_NOTIFY_COMPLETED, completed,
        this, MHD_OPTION_NOTIFY_CONNECTION, connectionChanged, this, MHD_OPTION_END);
    const MHD_DaemonInfo* info =
        daemon ? MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD) : nullptr;
    events = info ? info->epoll_fd : -1;
    return events >= 0;
}

// How long the loop may sleep: until the library has something to time
// out, or the first waiting client's deadline.
int Worker::timeoutMs() {
    if (runAgain) {
        return 0;
    }
    MHD_UNSIGNED_LONG_LONG library = 0;
    long long timeout = MHD_get_timeout(daemon, &library) == MHD_YES ? (long long)library : -1;
    if (const std::optional<Clock::time_point> next = deadlines.next()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
        const long long ms = std::max<long long>(0, left.count());
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
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

void Worker::loop(int stop) {
    for (;;) {
        pollfd ready[] = {{events, POLLIN, 0}, {stop, POLLIN, 0}};
        if (poll(ready, 2, timeoutMs()) < 0 && errno != EINTR) {
            return;
        }
        if (ready[1].revents != 0) {
            return;
        }
        runAgain = false;
        MHD_run(daemon);
        dropLateClients();
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
}

int Server::listen(int port) {
    const Limits& limits = m_daemon->limits;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (port != 0 && isTaken(address)) {
        return -1;
    }
    const int threads = std::max(1, limits.threads);
    auto& workers = m_daemon->workers;
    for (int i = 0; i < threads; ++i) {
        auto worker = std::make_unique<Worker>();
        worker->server = m_daemon.get();
        worker->listenSocket = listeningSocket(address, limits.backlog);
        if (worker->listenSocket < 0) {
            workers.clear();
            return -1;
        }
        // Port 0: the others join the port the first one was given.
        socklen_t length = sizeof address;
        getsockname(worker->listenSocket, reinterpret_cast<sockaddr*>(&address), &length);
        worker->address = address;
        worker->connectionLimit = unsigned(std::max(1, limits.connections / threads));
        workers.push_back(std::move(worker));
    }
    m_daemon->stop = eventfd(0, EFD_CLOEXEC);
    if (isShared(workers) || m_daemon->stop < 0) {
        workers.clear();
        return -1;
    }
    for (auto& worker : workers) {
        if (!worker->start()) {
            workers.clear();
            return -1;
        }
    }
    for (auto& worker : workers) {
        worker->thread =
            std::thread([raw = worker.get(), stop = m_daemon->stop] { raw->loop(stop); });
    }
    return ntohs(address.sin_port);
}

} // namespace http

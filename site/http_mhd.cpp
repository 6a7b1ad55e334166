// The only file that knows the HTTP library underneath the site.
#include "http.h"

#include <arpa/inet.h>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>

namespace http {

struct Server::Daemon {
    Handler handler;
    Limits limits;
    MHD_Daemon* daemon = nullptr;
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

MHD_Result send(MHD_Connection* connection, const Response& reply) {
    MHD_Response* response = MHD_create_response_from_buffer(
        size_t(reply.body.size()), const_cast<char*>(reply.body.constData()),
        MHD_RESPMEM_MUST_COPY);
    if (!response) {
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
    auto* pending = static_cast<Response*>(*state);
    if (!pending) {
        const auto* daemon = static_cast<const Server::Daemon*>(cls);
        Response reply = daemon->handler(requestOf(connection, url, method));
        if (reply.closeConnection) {
            return send(connection, reply);
        }
        *state = new Response(std::move(reply));
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    return send(connection, *pending);
}

void forget(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    delete static_cast<Response*>(*state);
    *state = nullptr;
}

} // namespace

Server::Server(Handler handler, const Limits& limits)
    : m_daemon(std::make_unique<Daemon>()) {
    m_daemon->handler = std::move(handler);
    m_daemon->limits = limits;
}

Server::~Server() {
    if (m_daemon->daemon) {
        MHD_stop_daemon(m_daemon->daemon);
    }
}

int Server::listen(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const Limits& limits = m_daemon->limits;
    m_daemon->daemon = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO, uint16_t(port), nullptr, nullptr, answer,
        m_daemon.get(), MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_THREAD_POOL_SIZE,
        unsigned(limits.threads), MHD_OPTION_CONNECTION_LIMIT, unsigned(limits.connections),
        MHD_OPTION_LISTEN_BACKLOG_SIZE, unsigned(limits.backlog), MHD_OPTION_CONNECTION_TIMEOUT,
        unsigned(limits.idleSeconds), MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.requestHeadBytes,
        MHD_OPTION_UNESCAPE_CALLBACK, keepEscaped, nullptr, MHD_OPTION_NOTIFY_COMPLETED, forget,
        nullptr, MHD_OPTION_END);
    if (!m_daemon->daemon) {
        return -1;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon->daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? int(info->port) : -1;
}

} // namespace http

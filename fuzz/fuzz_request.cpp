// Raw bytes from a client through the site's HTTP layer and routes, on a
// real loopback connection: whatever comes, the site answers or closes, and
// keeps answering.
#include "http.h"
#include "knowledge.h"
#include "routes.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int sitePort() {
    static http::Server* server = nullptr;
    static int port = -1;
    if (!server) {
        knowledge::useSimplifiedChinese();
        http::Limits limits;
        limits.idleSeconds = 1;
        // The routes judge the Host header by the site's usual port, so that the
        // seeds' requests reach them whatever port the system gave. The cache
        // stays off, so every input builds its page.
        static routes::Site site({.port = 27380, .cache = false, .watch = false});
        server = new http::Server(
            [](const http::Request& request) { return site.respond(request); }, limits);
        port = server->listen(0);
        if (port < 0) {
            std::abort();
        }
    }
    return port;
}

// libFuzzer's timer signal may interrupt a connect; that one is tried again.
// Any other failure means the site stopped taking connections.
int connectTo(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (;;) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return fd;
        }
        const int error = errno;
        close(fd);
        if (error != EINTR) {
            std::fprintf(stderr, "connecting to the site: %s\n", std::strerror(error));
            std::abort();
        }
    }
}

// Reads until the site closes or is quiet for a moment.
void drain(int fd) {
    pollfd wait{fd, POLLIN, 0};
    char buffer[65536];
    while (poll(&wait, 1, 10) > 0 && recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int port = sitePort();
    const int fd = connectTo(port);
    send(fd, data, size, MSG_NOSIGNAL);
    drain(fd);
    close(fd);
    return 0;
}

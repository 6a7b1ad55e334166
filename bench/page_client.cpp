// Times pages one request after another on one kept-open connection, for
// bench/export.sh. A compiled client: what an interpreter adds to each
// request (tens of microseconds here) would hide the page's own cost.
//     bench_pages HOST PORT REQUESTS LABEL TARGET...
// prints, per target, a table row: target and label, requests, the client's
// median and p99 in microseconds, and the median of the page's own time as
// its Server-Timing header tells it (0 when there is none). The first
// request of each target is made and left out.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "bench_pages: %s\n", what.c_str());
    std::exit(1);
}

int connectTo(const char* host, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (fd < 0 || inet_pton(AF_INET, host, &address.sin_addr) != 1 ||
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail(std::string("cannot connect to ") + host);
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// The value of a header field, its name given in lower case; empty if absent.
std::string field(const std::string& head, const std::string& name) {
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    const size_t at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos) {
        return {};
    }
    const size_t start = at + name.size() + 3;
    return head.substr(start, head.find("\r\n", start) - start);
}

struct Reply {
    int status = 0;
    double serverMicroseconds = 0;
};

// One GET, its reply read whole.
Reply fetch(int fd, const std::string& request, std::string& buffer) {
    if (send(fd, request.data(), request.size(), 0) != ssize_t(request.size())) {
        fail("send failed");
    }
    buffer.clear();
    size_t headEnd = std::string::npos;
    size_t total = 0;
    char chunk[65536];
    for (;;) {
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            fail("the connection closed");
        }
        buffer.append(chunk, size_t(got));
        if (headEnd == std::string::npos &&
            (headEnd = buffer.find("\r\n\r\n")) != std::string::npos) {
            const std::string length = field(buffer.substr(0, headEnd), "content-length");
            if (length.empty()) {
                fail("a reply without Content-Length");
            }
            total = headEnd + 4 + std::stoul(length);
        }
        if (headEnd != std::string::npos && buffer.size() >= total) {
            break;
        }
    }
    const std::string head = buffer.substr(0, headEnd);
    Reply reply;
    reply.status = std::atoi(head.c_str() + 9);
    const std::string timing = field(head, "server-timing");
    const size_t duration = timing.find("dur=");
    if (duration != std::string::npos) {
        reply.serverMicroseconds = std::atof(timing.c_str() + duration + 4) * 1000;
    }
    return reply;
}

double at(std::vector<double>& values, double share) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(double(values.size()) * share))];
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: bench_pages HOST PORT REQUESTS LABEL TARGET...\n");
        return 2;
    }
    const char* host = argv[1];
    const int port = std::atoi(argv[2]);
    const int count = std::max(1, std::atoi(argv[3]));
    const std::string label = argv[4];
    const int fd = connectTo(host, port);
    std::string buffer;
    for (int i = 5; i < argc; ++i) {
        const std::string target = argv[i];
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host + ":" +
                                    std::to_string(port) + "\r\n\r\n";
        if (fetch(fd, request, buffer).status != 200) {
            fail(target + " was not answered with 200");
        }
        std::vector<double> client;
        std::vector<double> server;
        for (int n = 0; n < count; ++n) {
            const auto start = std::chrono::steady_clock::now();
            server.push_back(fetch(fd, request, buffer).serverMicroseconds);
            client.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        std::printf("| %s%s | %d | %.0f | %.0f | %.0f |\n", target.c_str(), label.c_str(), count,
                    at(client, 0.5), at(client, 0.99), at(server, 0.5));
    }
    close(fd);
    return 0;
}

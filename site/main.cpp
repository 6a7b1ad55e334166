#include "knowledge.h"
#include "server.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int defaultPort = 47380;

// "--port N", N from 0 (any free port) to 65535; -1 when the arguments are wrong.
int portFromArguments(int argc, char* argv[]) {
    if (argc == 1) {
        return defaultPort;
    }
    if (argc != 3 || std::strcmp(argv[1], "--port") != 0) {
        return -1;
    }
    bool ok = false;
    const int port = QString::fromLocal8Bit(argv[2]).toInt(&ok);
    return ok && port >= 0 && port <= 65535 ? port : -1;
}

} // namespace

int main(int argc, char* argv[]) {
    const int port = portFromArguments(argc, argv);
    if (port < 0) {
        std::fprintf(stderr, "usage: quelvix-site [--port N]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    knowledge::useSimplifiedChinese();

    httplib::Server server;
    addRoutes(server);
    const char* host = "127.0.0.1";
    const int bound = port == 0                         ? server.bind_to_any_port(host)
                      : server.bind_to_port(host, port) ? port
                                                        : -1;
    if (bound < 0) {
        std::fprintf(stderr, "quelvix-site: cannot listen on %s:%d\n", host, port);
        return 1;
    }
    std::printf("listening on http://%s:%d\n", host, bound);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}

#include "exporter.h"
#include "formats/owndata.h"
#include "http.h"
#include "knowledge.h"
#include "routes.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

namespace {

constexpr int defaultPort = 47380;

// Every open connection is a descriptor: the soft limit, often 1024, would
// turn clients away long before the connection limit does.
int raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    getrlimit(RLIMIT_NOFILE, &limit);
    return int(std::min<rlim_t>(limit.rlim_cur, 1 << 16));
}

http::Limits limitsForThisMachine() {
    http::Limits limits;
    limits.threads = int(std::max(2u, std::thread::hardware_concurrency()));
    // Room for the listening socket, the databases' files and the threads' own.
    limits.connections = std::max(16, std::min(16384, raiseDescriptorLimit() - 64));
    return limits;
}

// Blocks until SIGINT or SIGTERM; the server's threads must not take them.
void blockStopSignals(sigset_t* set) {
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, set, nullptr);
}

// Until SIGINT or SIGTERM, or until no request came for the idle limit.
void waitForStop(const sigset_t& stopSignals, std::chrono::seconds idleLimit,
                 const routes::Site& site) {
    if (idleLimit.count() == 0) {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        return;
    }
    const timespec second{1, 0};
    while (sigtimedwait(&stopSignals, nullptr, &second) < 0) {
        if (std::chrono::steady_clock::now() - site.lastRequest() >= idleLimit) {
            return;
        }
    }
}

int usageError(const QCommandLineParser& parser, const QString& why) {
    std::fprintf(stderr, "quelvix-site: %s\n\n%s", qPrintable(why), qPrintable(parser.helpText()));
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    owndata::putFirst();
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELVIX_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The local lookup site on 127.0.0.1."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("catalog"),
                      QStringLiteral("Read the software catalog from <dir> (yaml/ and icons/) "
                                     "instead of the system's."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("public"),
                      QStringLiteral("Serve the public pages only: nothing about this machine's "
                                     "installed programs, to any host name.")});
    parser.addOption({QStringLiteral("export"),
                      QStringLiteral("Write the public pages into <dir> as static files and exit."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("jobs"),
                      QStringLiteral("Export with <n> threads (default: one per core)."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("exit-when-idle"),
                      QStringLiteral("End after <seconds> without a request (default: run until "
                                     "stopped)."),
                      QStringLiteral("seconds")});
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("Listen on <port> (0: any free port, printed at start)."),
                      QStringLiteral("port"), QString::number(defaultPort)});
    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser, parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    bool ok = false;
    const int port = parser.value(QStringLiteral("port")).toInt(&ok);
    if (!ok || port < 0 || port > 65535 || !parser.positionalArguments().isEmpty()) {
        return usageError(parser, QStringLiteral("the port must be a number from 0 to 65535"));
    }
    std::chrono::seconds idleLimit{0};
    if (parser.isSet(QStringLiteral("exit-when-idle"))) {
        idleLimit = std::chrono::seconds(parser.value(QStringLiteral("exit-when-idle")).toInt(&ok));
        if (!ok || idleLimit.count() < 1) {
            return usageError(parser, QStringLiteral("--exit-when-idle takes a number of seconds"));
        }
    }
    knowledge::useSimplifiedChinese();
    const QString catalogDir = parser.value(QStringLiteral("catalog"));
    if (parser.isSet(QStringLiteral("export"))) {
        const int jobs = parser.isSet(QStringLiteral("jobs"))
                             ? parser.value(QStringLiteral("jobs")).toInt()
                             : int(std::max(1u, std::thread::hardware_concurrency()));
        if (jobs < 1 || jobs > 256) {
            return usageError(parser, QStringLiteral("--jobs takes a number from 1 to 256"));
        }
        routes::Site site(
            {.catalogDir = catalogDir, .cache = false, .watch = false, .isPublic = true});
        return exporter::exportTo(parser.value(QStringLiteral("export")), jobs, site);
    }

    sigset_t stopSignals;
    blockStopSignals(&stopSignals);
    // QUELVIX_SITE_CACHE=0 builds every page afresh, for measuring what the cache saves.
    routes::Site site({.port = port,
                       .catalogDir = catalogDir,
                       .cache = qgetenv("QUELVIX_SITE_CACHE") != "0",
                       .isPublic = parser.isSet(QStringLiteral("public"))});
    http::Limits limits = limitsForThisMachine();
    // A public site tells nothing about this machine, so anyone may ask it.
    limits.anyUser = parser.isSet(QStringLiteral("public"));
    http::Server server([&site](const http::Request& request) { return site.respond(request); },
                        limits);
    const int bound = server.listen(port);
    site.setPort(bound);
    if (bound < 0) {
        std::fprintf(stderr, "quelvix-site: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("listening on http://127.0.0.1:%d\n", bound);
    std::fflush(stdout);
    waitForStop(stopSignals, idleLimit, site);
    return 0;
}

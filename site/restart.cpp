#include "restart.h"

#include <QMutex>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace restart {
namespace {

// Status of a site that had to start over and could not.
constexpr int cannotRestart = 75;

QMutex lock;
std::vector<std::string> arguments;

} // namespace

void keepArguments(int argc, char* argv[]) {
    const QMutexLocker locker(&lock);
    arguments.assign(argv, argv + argc);
}

void keepPort(int port) {
    const QMutexLocker locker(&lock);
    const std::string value = std::to_string(port);
    // The last --port given counts; one added by an earlier start is replaced.
    const size_t count = arguments.size();
    if (count >= 3 && arguments[count - 2] == "--port") {
        arguments[count - 1] = value;
    } else {
        arguments.insert(arguments.end(), {"--port", value});
    }
}

void now(const QString& why) {
    lock.lock(); // held until the process is replaced: one restart at a time
    std::fprintf(stderr, "quelvix-site: %s，重新启动\n", qPrintable(why));
    std::fflush(stderr);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    // The new start blocks what it needs itself, and opens its own files.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    execv("/proc/self/exe", argv.data());
    std::fprintf(stderr, "quelvix-site: 无法重新启动：%s\n", std::strerror(errno));
    _exit(cannotRestart);
}

} // namespace restart

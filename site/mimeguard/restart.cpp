#include "restart.h"

#include <QMutex>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace restart {
namespace {

// Status of a site that had to start over and could not.
constexpr int cannotRestart = 75;

// Long enough on loopback for an answer already handed to the server.
constexpr auto grace = std::chrono::milliseconds(100);

QMutex lock;
std::vector<std::string> arguments;
std::atomic<bool> underway{false};

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

void soon(const QString& why) {
    if (underway.exchange(true)) {
        return;
    }
    std::thread([why] {
        std::this_thread::sleep_for(grace);
        now(why);
    }).detach();
}

bool isUnderway() {
    return underway.load();
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

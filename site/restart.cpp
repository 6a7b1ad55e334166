#include "restart.h"

#include "sitelog.h"

#include <QMutex>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace restart {
namespace {

// Status of a site that had to start over and could not.
constexpr int cannotRestart = 75;

// Long enough on loopback for an answer already handed to the server.
constexpr auto grace = std::chrono::milliseconds(100);

// The environment variable that names the listening socket handed on.
constexpr char listeningVariable[] = "QUELVIX_SITE_LISTEN_FD";

QMutex lock;
std::vector<std::string> arguments;
int listening = -1;
std::atomic<bool> underway{false};

// This process's environment, with the listening socket named in it (and
// only there: a name left from an earlier start is dropped).
std::vector<std::string> environmentHandingOn() {
    std::vector<std::string> environment;
    const std::string prefix = std::string(listeningVariable) + "=";
    for (char** entry = environ; *entry; ++entry) {
        if (!std::string_view(*entry).starts_with(prefix)) {
            environment.emplace_back(*entry);
        }
    }
    if (listening >= 0) {
        environment.push_back(prefix + std::to_string(listening));
    }
    return environment;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& string : strings) {
        pointers.push_back(string.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

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

void keepListening(int fd) {
    const QMutexLocker locker(&lock);
    listening = fd;
}

int takeListening() {
    const char* named = std::getenv(listeningVariable);
    if (!named) {
        return -1;
    }
    char* end = nullptr;
    const long fd = std::strtol(named, &end, 10);
    const bool valid = *named != '\0' && *end == '\0' && fd > 2 && fd < INT_MAX &&
                       fcntl(int(fd), F_SETFD, FD_CLOEXEC) == 0;
    unsetenv(listeningVariable);
    return valid ? int(fd) : -1;
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
    std::fprintf(stderr, "quelvix-site: %s\n",
                 qPrintable(sitelog::say("%1，重新启动", "%1; starting again").arg(why)));
    std::fflush(stderr);
    std::vector<std::string> environment = environmentHandingOn();
    std::vector<char*> argv = pointersTo(arguments);
    std::vector<char*> envp = pointersTo(environment);
    // The new start blocks what it needs itself, and opens its own files;
    // only the listening socket stays open.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (listening >= 0) {
        fcntl(listening, F_SETFD, 0);
    }
    execve("/proc/self/exe", argv.data(), envp.data());
    const int error = errno;
    std::fprintf(
        stderr, "quelvix-site: %s%s\n",
        sitelog::readsChinese() ? "无法重新启动：" : "cannot start again: ", std::strerror(error));
    _exit(cannotRestart);
}

} // namespace restart

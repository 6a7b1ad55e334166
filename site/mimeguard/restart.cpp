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

// The environment variable that names the listening sockets handed on,
// their numbers separated by commas.
constexpr char listeningVariable[] = "QUELVIX_SITE_LISTEN_FDS";

// This process's environment, with the listening sockets named in it (and
// only there: a name left from an earlier start is dropped).
std::vector<std::string> environmentHandingOn(const std::vector<int>& listening) {
    std::vector<std::string> environment;
    const std::string prefix = std::string(listeningVariable) + "=";
    for (char** entry = environ; *entry; ++entry) {
        if (!std::string_view(*entry).starts_with(prefix)) {
            environment.emplace_back(*entry);
        }
    }
    std::string named;
    for (const int fd : listening) {
        named += (named.empty() ? "" : ",") + std::to_string(fd);
    }
    if (!named.empty()) {
        environment.push_back(prefix + named);
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

// Replaces this process with a new start of the same program. It takes
// copies of what it starts with, so it needs nothing of the Restarter, which
// main may be destroying meanwhile.
[[noreturn]] void startAgain(const QString& why, std::vector<std::string> arguments,
                             const std::vector<int>& listening) {
    std::fprintf(stderr, "quelvix-site: %s\n",
                 qPrintable(sitelog::say("%1，重新启动", "%1; starting again").arg(why)));
    std::fflush(stderr);
    std::vector<std::string> environment = environmentHandingOn(listening);
    std::vector<char*> argv = pointersTo(arguments);
    std::vector<char*> envp = pointersTo(environment);
    // The new start blocks what it needs itself, and opens its own files;
    // only the listening sockets stay open.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    for (const int fd : listening) {
        fcntl(fd, F_SETFD, 0);
    }
    execve("/proc/self/exe", argv.data(), envp.data());
    const int error = errno;
    std::fprintf(
        stderr, "quelvix-site: %s%s\n",
        sitelog::readsChinese() ? "无法重新启动：" : "cannot start again: ", std::strerror(error));
    _exit(cannotRestart);
}

} // namespace

Restarter::Restarter(int argc, char* argv[])
    : m_arguments(argv, argv + argc) {}

void Restarter::keepPort(int port) {
    const QMutexLocker locker(&m_lock);
    const std::string value = std::to_string(port);
    // The last --port given counts; one added by an earlier start is replaced.
    const size_t count = m_arguments.size();
    if (count >= 3 && m_arguments[count - 2] == "--port") {
        m_arguments[count - 1] = value;
    } else {
        m_arguments.insert(m_arguments.end(), {"--port", value});
    }
}

void Restarter::keepListening(const std::vector<int>& fds) {
    const QMutexLocker locker(&m_lock);
    m_listening = fds;
}

std::vector<int> takeListening() {
    const char* named = std::getenv(listeningVariable);
    std::vector<int> fds;
    for (const char* at = named; at && *at;) {
        char* end = nullptr;
        const long fd = std::strtol(at, &end, 10);
        if (end == at || fd <= 2 || fd >= INT_MAX || (*end != ',' && *end != '\0')) {
            break;
        }
        if (fcntl(int(fd), F_SETFD, FD_CLOEXEC) == 0) {
            fds.push_back(int(fd));
        }
        at = *end == ',' ? end + 1 : end;
    }
    unsetenv(listeningVariable);
    return fds;
}

void Restarter::soon(const QString& why) {
    if (m_underway.exchange(true)) {
        return; // one restart at a time
    }
    const QMutexLocker locker(&m_lock);
    std::thread([why, arguments = m_arguments, listening = m_listening] {
        std::this_thread::sleep_for(grace);
        startAgain(why, arguments, listening);
    }).detach();
}

} // namespace restart

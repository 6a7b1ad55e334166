#include "termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

constexpr int endingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read on the event loop: a handler may do nothing
// more than write.
int wakeRead = -1;
int wakeWrite = -1;

void onEndingSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(wakeWrite, &byte, 1);
    errno = saved;
}

sigset_t endingSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : endingSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

} // namespace

void quitOnTermination(std::function<void()> quit) {
    int ends[2];
    if (wakeRead >= 0 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    wakeRead = ends[0];
    wakeWrite = ends[1];
    auto* notifier =
        new QSocketNotifier(wakeRead, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [quit = std::move(quit)] {
        char drained[16];
        while (::read(wakeRead, drained, sizeof drained) > 0) {
        }
        quit();
    });
    struct sigaction action {};
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    // The first request quits; should quitting itself hang, the next one ends
    // the process as it would have without this.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signal : endingSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

bool runDetached(std::function<void()> work) {
    // A thread starts with its creator's mask.
    const sigset_t ending = endingSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &ending, &previous);
    bool started = true;
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

} // namespace platform

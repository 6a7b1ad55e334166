#pragma once

#include <QMutex>
#include <QString>
#include <atomic>
#include <string>
#include <vector>

// Starting the site afresh in its own process: same id, same arguments, same
// environment, so whatever it had read (GLib's and Qt's databases above all)
// is read again from the start. The port it listened on is taken again.
namespace restart {

// The listening sockets handed on by the process this one replaced, if any.
// Call once, first thing in main, before any thread starts.
std::vector<int> takeListening();

// What a restart starts again with, made first thing in main (with main's own
// arguments) and handed to whatever may have to restart the site.
class Restarter {
public:
    Restarter(int argc, char* argv[]);
    Restarter(const Restarter&) = delete;
    Restarter& operator=(const Restarter&) = delete;

    // The port the site listens on, so a site started on port 0 keeps its port.
    void keepPort(int port);
    // The listening sockets themselves, handed on open across the restart:
    // between the old process and the new one the port is never free for
    // another program to take, and connections made meanwhile wait in the queue.
    void keepListening(const std::vector<int>& fds);

    // Says why on stderr and starts over a moment later, from a thread of its
    // own, so the answers being sent get out; the first call counts. Requests
    // under way are cut off.
    void soon(const QString& why);
    // Whether a restart is coming: nothing should be read any more.
    bool isUnderway() const { return m_underway.load(); }

private:
    mutable QMutex m_lock;
    std::vector<std::string> m_arguments;
    std::vector<int> m_listening;
    std::atomic<bool> m_underway{false};
};

} // namespace restart

#pragma once

// What seeing to the local site needs of the operating system: starting it
// detached with a pipe of its own, hearing on that pipe whether it is ready,
// and telling whose program listens on a port.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace platform::sitelaunch {

// This user, as the kernel's socket tables name a socket's owner.
uint currentUser();

enum class Holder { Nobody, Us, Other, Unknown };

// Who listens on the port where loopback connections reach; one listener of
// another user's is enough to make it theirs. Unknown where this cannot be
// told: whoever answers is then taken at their word.
Holder holderOf(quint16 port);

// Starts a program detached and without a shell, its output thrown away;
// the descriptor `keep` (unless -1) stays open in it. False when it could not
// be started.
bool startDetached(const QString& program, const QStringList& arguments, int keep);

// A pipe a started program writes one line to, then closes.
class ReadyPipe {
public:
    virtual ~ReadyPipe() = default;
    // The descriptor the program is handed and told of.
    virtual int writeEnd() const = 0;
    // Once the program has been started: gives up this process's copy of the
    // write end and, on the event loop, calls then() with the first line, or
    // with nothing when the pipe closes without one (the program ended
    // without a word).
    virtual void wait(std::function<void(std::optional<QByteArray>)> then) = 0;
};

// Nothing where programs cannot be handed a pipe.
std::unique_ptr<ReadyPipe> openReadyPipe();

// A connection being tried; dropping it cuts the attempt off unheard.
class Connecting {
public:
    virtual ~Connecting() = default;
};

// Tries a TCP connection to the host ("localhost" or an address written out)
// and port, on the event loop, and closes it at once: then(true) once it was
// taken, then(false) once refused or impossible, never before this returns.
std::unique_ptr<Connecting> tryConnect(const QString& host, quint16 port,
                                       std::function<void(bool)> then);

} // namespace platform::sitelaunch

#pragma once

#include "mimesettling.h"

#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>

// Tells when what the pages are built from has changed: the installed
// programs (GIO's own monitor), the MIME database (its mime.cache files in
// every XDG data directory) and the software catalog (its files). It runs a
// GLib main loop in a thread of its own, since the server's threads run none.
// A changed MIME database is checked before anyone is told; where GLib cannot
// watch the programs, their folders are polled and the site restarted when
// they change.
namespace mimedirs {
class DataDirs;
}

class Watcher {
public:
    struct Callbacks {
        std::function<void()> programsChanged;
        std::function<void(const char* why)> mimeChanged; // changed, or settled since
        std::function<void()> catalogChanged;             // called on the watcher's thread
    };

    // The data directories' databases are checked before anyone is told of a
    // change; they must outlive the watcher.
    Watcher(mimedirs::DataDirs& dirs, Callbacks callbacks,
            std::function<QStringList()> catalogFiles);
    ~Watcher();
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

private:
    struct Loop;
    std::unique_ptr<Loop> m_loop;
};

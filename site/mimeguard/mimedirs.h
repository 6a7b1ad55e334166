#pragma once

#include "restart.h"

#include <QMutex>
#include <QStringList>
#include <atomic>
#include <memory>

// The MIME databases the site reads, one per XDG data directory, and keeping
// a damaged one away from GLib and Qt. Neither can be told to skip one file,
// so the directory holding it is replaced, in XDG_DATA_HOME or XDG_DATA_DIRS,
// by a private view of it that has everything but its mime folder: its
// programs and icons still count.
namespace mimedirs {

// The data directories the site was given, and the ones left out. Made
// first thing in main, before anything reads the data directories, and
// handed to whatever reads the databases.
class DataDirs {
public:
    // The directories as given; a restarted site starts from the ones the
    // first start was given. A damaged database found later has it restarted.
    explicit DataDirs(restart::Restarter& restarter);
    ~DataDirs();
    DataDirs(const DataDirs&) = delete;
    DataDirs& operator=(const DataDirs&) = delete;

    // Checks each database and leaves out the damaged ones, one line each on
    // stderr. Call before anything reads the data directories.
    void leaveOutDamaged();

    // The mime.cache of every data directory the site was given, left out or not.
    const QStringList& cacheFiles() const { return m_caches; }

    // Checks the databases again if one changed since it was last checked, and
    // has the site restart when one became damaged or a left-out one was
    // repaired (nothing may read them once restarter().isUnderway()). A stat
    // per database when none changed.
    void recheck();

    // The same, before anything may read the databases, as cheap as can be:
    // when inotify says nothing happened in their folders, one read that
    // finds nothing.
    void beforeReading();

    restart::Restarter& restarter() const { return m_restarter; }

private:
    class Changes;

    restart::Restarter& m_restarter;
    QString m_home;
    QStringList m_dirs;
    QStringList m_caches; // the data home's first
    QMutex m_lock;
    QStringList m_leftOut;
    std::atomic<size_t> m_checked{0};
    std::unique_ptr<Changes> m_changes;
    std::atomic<bool> m_unsettled{false};
};

} // namespace mimedirs

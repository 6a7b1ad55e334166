#pragma once

#include <QStringList>

// The MIME databases the site reads, one per XDG data directory, and keeping
// a damaged one away from GLib and Qt. Neither can be told to skip one file,
// so the directory holding it is replaced, in XDG_DATA_HOME or XDG_DATA_DIRS,
// by a private view of it that has everything but its mime folder: its
// programs and icons still count.
namespace mimedirs {

// First thing in main, before anything reads the data directories: checks
// each database and leaves out the damaged ones, one line each on stderr.
// A restarted site starts from the directories the first start was given.
void leaveOutDamaged();

// The mime.cache of every data directory the site was given, left out or not.
QStringList cacheFiles();

// Checks the databases again if one changed since it was last checked, and
// has the site restart when one became damaged or a left-out one was repaired
// (nothing may read them once restart::isUnderway()). A stat per database
// when none changed.
void recheck();

// The same, before anything may read the databases, as cheap as can be: when
// inotify says nothing happened in their folders, one read that finds nothing.
void beforeReading();

} // namespace mimedirs

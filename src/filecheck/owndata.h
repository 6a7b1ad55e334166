#pragma once

#include <QString>

namespace owndata {

// The site's own data folder (its format table among it) beside the program:
// <program's folder>/../share/quelvix, the same in the build tree and in an
// install. Empty when it is not there.
QString folder();

// Puts folder() first in this process's XDG_DATA_DIRS, so that QMimeDatabase
// and GIO read the site's formats before the desktop's, while the desktop's
// own database stays as it is: the site for its pages, the app for the files
// it is given, so that both name a file's format alike. Call it before
// anything reads MIME or application data: both cache what they read. The
// programs the process starts inherit it. Returns the folder put first, or
// an empty string when there is none.
QString putFirst();

} // namespace owndata

#include "owndata.h"

#include <QDir>
#include <QFileInfo>

namespace owndata {
namespace {

// What XDG_DATA_DIRS stands for when it is unset or empty.
constexpr auto defaultDataDirs = "/usr/local/share:/usr/share";

} // namespace

QString folder() {
    // Called before the application object exists, and for the program
    // itself, not a link to it (the app keeps one beside itself).
    const QString programDir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    const QString candidate = QDir::cleanPath(programDir + QStringLiteral("/../share/quelvix"));
    // A folder without the compiled table would only slow every lookup down.
    if (!QFileInfo(candidate + QStringLiteral("/mime/mime.cache")).isFile()) {
        return {};
    }
    return candidate;
}

QString putFirst() {
    const QString own = folder();
    if (own.isEmpty()) {
        return {};
    }
    QString current = qEnvironmentVariable("XDG_DATA_DIRS");
    if (current.isEmpty()) {
        current = QString::fromLatin1(defaultDataDirs);
    }
    QStringList dirs = current.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    // Once only, however often this runs, and never behind itself.
    dirs.removeIf([&own](const QString& dir) { return QDir::cleanPath(dir) == own; });
    dirs.prepend(own);
    qputenv("XDG_DATA_DIRS", dirs.join(QLatin1Char(':')).toLocal8Bit());
    return own;
}

} // namespace owndata

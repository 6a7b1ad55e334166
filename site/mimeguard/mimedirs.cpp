#include "mimedirs.h"

#include "filestamp.h"
#include "mimecheck.h"
#include "restart.h"
#include "sitelog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mimedirs {
namespace {

// What the first start was given, for every restart to start from.
constexpr const char* givenHomeVariable = "QUELVIX_SITE_GIVEN_XDG_DATA_HOME";
constexpr const char* givenDirsVariable = "QUELVIX_SITE_GIVEN_XDG_DATA_DIRS";
// Where a left-out directory points when no private view can be made:
// Debian's name for a place that never exists.
const QString nowhere = QStringLiteral("/nonexistent");

struct Given {
    QByteArray home;
    QByteArray dirs;
};

Given given() {
    if (qEnvironmentVariableIsSet(givenDirsVariable)) {
        return {qgetenv(givenHomeVariable), qgetenv(givenDirsVariable)};
    }
    return {qgetenv("XDG_DATA_HOME"), qgetenv("XDG_DATA_DIRS")};
}

// Unset or empty, each variable means its XDG default.
QString homeOf(const QByteArray& value) {
    return value.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share")
                           : QFile::decodeName(value);
}

QStringList dirsOf(const QByteArray& value) {
    const QStringList dirs = QFile::decodeName(value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs.isEmpty()
               ? QStringList{QStringLiteral("/usr/local/share/"), QStringLiteral("/usr/share/")}
               : dirs;
}

QString cacheIn(const QString& dir) {
    return dir + QStringLiteral("/mime/mime.cache");
}

size_t hashOf(const QStringList& caches) {
    const QList<qint64> stamp = filestamp::of(caches);
    return qHashRange(stamp.cbegin(), stamp.cend());
}

// Every damaged cache with what is wrong with it.
QList<QPair<QString, QString>> damagedAmong(const QStringList& caches) {
    QList<QPair<QString, QString>> damaged;
    for (const QString& cache : caches) {
        const QString problem = mimecheck::problemInFile(cache);
        if (!problem.isEmpty()) {
            damaged.append({cache, problem});
        }
    }
    return damaged;
}

// Made if need be, a directory only this user can reach.
bool isOwnFolder(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    mkdir(name.constData(), 0700);
    struct stat status {};
    return lstat(name.constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == getuid() && (status.st_mode & 077) == 0;
}

QString privateFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()
                               ? runtime + QStringLiteral("/quelvix-site")
                               : QStringLiteral("/tmp/quelvix-site-%1").arg(getuid());
    return isOwnFolder(folder) ? folder : QString();
}

const auto everyEntry = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

// Views whose directory is gone (every link in them leads nowhere) go too.
void removeStaleViews(const QString& folder) {
    for (const QFileInfo& view :
         QDir(folder).entryInfoList({QStringLiteral("data-*")}, QDir::Dirs | QDir::NoSymLinks)) {
        const QFileInfoList links = QDir(view.filePath()).entryInfoList(everyEntry);
        if (std::none_of(links.cbegin(), links.cend(), [](const QFileInfo& link) {
                return !link.isSymLink() || link.exists();
            })) {
            QDir(view.filePath()).removeRecursively();
        }
    }
}

// Links to everything in the directory but its mime folder; one view per
// directory, kept in step with it at each start.
QString viewWithoutMime(const QString& dir) {
    const QString folder = privateFolder();
    if (folder.isEmpty()) {
        return nowhere;
    }
    removeStaleViews(folder);
    const QString source = QFileInfo(dir).absoluteFilePath();
    const QString view =
        folder + QStringLiteral("/data-") +
        QCryptographicHash::hash(source.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    if (!isOwnFolder(view)) {
        return nowhere;
    }
    QStringList entries = QDir(source).entryList(everyEntry);
    entries.removeAll(QStringLiteral("mime"));
    for (const QString& name : QDir(view).entryList(everyEntry)) {
        if (!entries.contains(name)) {
            QFile::remove(view + QLatin1Char('/') + name);
        }
    }
    for (const QString& name : entries) {
        QFile::link(source + QLatin1Char('/') + name, view + QLatin1Char('/') + name);
    }
    return view;
}

void setOrUnset(const char* variable, const QByteArray& value) {
    if (value.isEmpty()) {
        qunsetenv(variable);
    } else {
        qputenv(variable, value);
    }
}

// The variables as given, with each left-out directory replaced by its view.
void pointAwayFrom(const QString& home, const QStringList& givenDirs, const QStringList& leftOut,
                   const Given& raw) {
    const bool homeLeftOut = leftOut.contains(cacheIn(home));
    setOrUnset("XDG_DATA_HOME", homeLeftOut ? QFile::encodeName(viewWithoutMime(home)) : raw.home);
    QStringList dirs;
    for (const QString& dir : givenDirs) {
        dirs << (leftOut.contains(cacheIn(dir)) ? viewWithoutMime(dir) : dir);
    }
    setOrUnset("XDG_DATA_DIRS",
               dirs == givenDirs ? raw.dirs : QFile::encodeName(dirs.join(QLatin1Char(':'))));
}

} // namespace

// Tells, for the price of one read that finds nothing, whether anything
// happened in the databases' folders since it was last asked.
class DataDirs::Changes {
public:
    Changes()
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~Changes() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Changes(const Changes&) = delete;
    Changes& operator=(const Changes&) = delete;

    bool canTell() const { return m_fd >= 0; }

    // The mime folder holding each cache, and the data folder holding that,
    // for a mime folder made or replaced; watching a folder again is free.
    void watch(const QStringList& caches) const {
        for (const QString& cache : caches) {
            const QString folder = QFileInfo(cache).path();
            add(folder, IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                            IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF);
            add(QFileInfo(folder).path(), IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO);
        }
    }

    bool happened() const {
        alignas(inotify_event) char events[4096];
        bool any = false;
        while (read(m_fd, events, sizeof events) > 0) {
            any = true;
        }
        return any;
    }

private:
    void add(const QString& folder, uint32_t mask) const {
        inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), mask);
    }

    int m_fd;
};

DataDirs::DataDirs(restart::Restarter& restarter)
    : m_restarter(restarter)
    , m_changes(std::make_unique<Changes>()) {
    const Given raw = given();
    m_home = homeOf(raw.home);
    m_dirs = dirsOf(raw.dirs);
    m_caches << cacheIn(m_home);
    for (const QString& dir : m_dirs) {
        m_caches << cacheIn(dir);
    }
}

DataDirs::~DataDirs() = default;

void DataDirs::leaveOutDamaged() {
    const Given raw = given();
    qputenv(givenHomeVariable, raw.home);
    qputenv(givenDirsVariable, raw.dirs);
    m_changes->watch(m_caches);
    m_checked = hashOf(m_caches);
    for (const auto& [cache, problem] : damagedAmong(m_caches)) {
        std::fprintf(stderr, "quelvix-site: %s\n",
                     qPrintable(sitelog::say("已略过损坏的 MIME 数据库 %1（%2）",
                                             "left out the damaged MIME database %1 (%2)")
                                    .arg(cache, problem)));
        m_leftOut << cache;
    }
    pointAwayFrom(m_home, m_dirs, m_leftOut, raw);
}

void DataDirs::recheck() {
    const size_t stamp = hashOf(m_caches);
    if (stamp == m_checked.load()) {
        return;
    }
    const QMutexLocker locker(&m_lock);
    if (stamp == m_checked.load()) {
        return;
    }
    const QList<QPair<QString, QString>> damaged = damagedAmong(m_caches);
    for (const auto& [cache, problem] : damaged) {
        if (!m_leftOut.contains(cache)) {
            m_restarter.soon(
                sitelog::say("MIME 数据库 %1 已损坏（%2）", "the MIME database %1 is damaged (%2)")
                    .arg(cache, problem));
            return;
        }
    }
    if (damaged.size() != m_leftOut.size()) {
        m_restarter.soon(
            sitelog::say("略过的 MIME 数据库已修复", "a MIME database left out has been repaired"));
        return;
    }
    m_changes->watch(m_caches);
    m_checked = stamp;
}

void DataDirs::beforeReading() {
    if (m_changes->canTell()) {
        if (m_changes->happened()) {
            m_unsettled = true;
        }
        if (!m_unsettled.load()) {
            return;
        }
    }
    recheck();
    m_unsettled = false;
}

} // namespace mimedirs

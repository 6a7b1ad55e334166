#include "webroot.h"

#include "addresses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace webroot {

const QByteArray lookupFolder = addresses::pageFolder(addresses::Page::Lookup).toLatin1();
const QByteArray searchFolder = addresses::pageFolder(addresses::Page::Search).toLatin1();
const QByteArrayList publicNames = {"index.html", "404.html",   "style.css",
                                    lookupFolder, searchFolder, "icons"};

namespace {

constexpr const char* lockName = ".quelvix-export.lock";
constexpr const char* manifestName = ".quelvix-export-manifest";
constexpr const char* currentName = ".quelvix-export-current";
constexpr const char* versionPrefix = ".quelvix-export-";
// Briefly, for a file or link that a rename then puts in place.
constexpr const char* tempPrefix = ".quelvix-export-tmp-";
constexpr const char* manifestHeader = "quelvix-export manifest 1";
const QByteArrayList publicDirs = {lookupFolder, searchFolder, "icons"};

// Unguessable, so nobody can plant a link where the next version will be.
QByteArray randomName(const char* prefix) {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name(prefix);
    for (int i = 0; i < 12; ++i) {
        name += letters[QRandomGenerator::system()->bounded(int(sizeof letters) - 1)];
    }
    return name;
}

bool isVersionName(const QByteArray& name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.quelvix-export-[A-Za-z0-9]{12}$"));
    return pattern.match(QString::fromLatin1(name)).hasMatch();
}

QByteArray linkTarget(const QByteArray& publicName) {
    return QByteArray(currentName) + '/' + publicName;
}

QString failure(const QString& what, int error) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

void warn(const QString& text) {
    std::fprintf(stderr, "quelvix-site: %s\n", qPrintable(text));
}

QString kindOf(mode_t mode) {
    return S_ISDIR(mode)   ? QStringLiteral("a folder")
           : S_ISLNK(mode) ? QStringLiteral("a link")
           : S_ISREG(mode) ? QStringLiteral("a file")
                           : QStringLiteral("not a plain file");
}

// Every folder a file needs, and the public ones even when empty.
Version versionOf(const QSet<QByteArray>& files) {
    Version version{QSet<QByteArray>(publicDirs.begin(), publicDirs.end()), files};
    for (const QByteArray& file : files) {
        for (QByteArray dir = safefs::parentOf(file); !dir.isEmpty(); dir = safefs::parentOf(dir)) {
            version.dirs.insert(dir);
        }
    }
    return version;
}

QByteArrayList sorted(const QSet<QByteArray>& set) {
    QByteArrayList list(set.begin(), set.end());
    std::sort(list.begin(), list.end());
    return list;
}

// Deepest first, so a folder comes after everything in it.
QByteArrayList deepestFirst(const QSet<QByteArray>& dirs) {
    QByteArrayList list = sorted(dirs);
    std::stable_sort(list.begin(), list.end(), [](const QByteArray& a, const QByteArray& b) {
        return a.count('/') > b.count('/');
    });
    return list;
}

// The same entry in another folder: a file hard-linked, a link copied, a
// folder made empty with its owner and mode.
int linkEntry(int from, int to, const safefs::Entry& entry) {
    const char* name = entry.name.constData();
    if (S_ISREG(entry.info.st_mode)) {
        return ::linkat(from, name, to, name, 0) == 0 ? 0 : errno;
    }
    QByteArray target;
    if (S_ISLNK(entry.info.st_mode)) {
        const int error = safefs::readLinkAt(from, entry.name, &target);
        return error != 0 || ::symlinkat(target.constData(), to, name) == 0 ? error : errno;
    }
    if (::mkdirat(to, name, 0700) != 0) {
        return errno;
    }
    // Only root may give it away; anyone else keeps it as their own.
    ::fchownat(to, name, entry.info.st_uid, entry.info.st_gid, AT_SYMLINK_NOFOLLOW);
    return ::fchmodat(to, name, entry.info.st_mode & 07777, 0) == 0 ? 0 : errno;
}

bool removeAt(int root, const QByteArray& relative, int flags) {
    safefs::Fd parent;
    const int error = safefs::openDirectory(root, safefs::parentOf(relative), false, &parent);
    if (error != 0) {
        return error == ENOENT;
    }
    return ::unlinkat(parent.get(), safefs::nameOf(relative).constData(), flags) == 0 ||
           errno == ENOENT;
}

} // namespace

// One line per entry, paths percent-encoded, sorted: the same state always
// gives the same bytes.
QByteArray Manifest::serialize() const {
    QByteArray text = QByteArray(manifestHeader) + '\n';
    for (const QByteArray& partial : sorted(partials)) {
        text += "partial " + partial + '\n';
    }
    for (auto version = versions.cbegin(); version != versions.cend(); ++version) {
        text += "version " + version.key() + '\n';
        for (const QByteArray& dir : sorted(version->dirs)) {
            text += "dir " + dir.toPercentEncoding("/") + '\n';
        }
        for (const QByteArray& file : sorted(version->files)) {
            text += "file " + file.toPercentEncoding("/") + '\n';
        }
    }
    return text;
}

bool Manifest::parse(const QByteArray& text, Manifest* manifest) {
    QByteArrayList lines = text.split('\n');
    if (lines.takeFirst() != manifestHeader || lines.isEmpty() || !lines.last().isEmpty()) {
        return false;
    }
    lines.removeLast();
    Version* current = nullptr;
    for (const QByteArray& line : lines) {
        const QByteArray kind = line.left(line.indexOf(' '));
        const QByteArray value = line.mid(kind.size() + 1);
        const QByteArray path = QByteArray::fromPercentEncoding(value);
        if ((kind == "partial" || kind == "version") && isVersionName(value)) {
            current = kind == "version" ? &manifest->versions[value] : nullptr;
            if (kind == "partial") {
                manifest->partials.insert(value);
            }
        } else if (current != nullptr && kind == "dir" && safefs::isPlainPath(path)) {
            current->dirs.insert(path);
        } else if (current != nullptr && kind == "file" && safefs::isPlainPath(path)) {
            current->files.insert(path);
        } else {
            return false;
        }
    }
    return true;
}

WebRoot::WebRoot(QString path)
    : m_path(std::move(path)) {}

WebRoot::~WebRoot() {
    m_newFd = safefs::Fd();
    // Removed while still held, so nobody locks a lock file that is gone.
    if (m_lockCreated) {
        ::unlinkat(m_dir.get(), lockName, 0);
    }
    m_lock = safefs::Fd();
    m_dir = safefs::Fd();
    // Only when empty: a directory the export made and then failed to fill.
    if (m_created && !m_switched) {
        ::rmdir(QFile::encodeName(m_path).constData());
    }
}

QString WebRoot::display(const QByteArray& name) const {
    return m_path + QLatin1Char('/') + QFile::decodeName(name);
}

QString WebRoot::versionPath() const {
    return display(m_new);
}

QString WebRoot::open() {
    const QFileInfo info(m_path);
    if (info.exists() && !info.isDir()) {
        return QStringLiteral("%1 exists and is not a directory").arg(m_path);
    }
    if (!info.exists()) {
        if (!QDir().mkpath(m_path)) {
            return QStringLiteral("cannot create the directory %1").arg(m_path);
        }
        m_created = true;
    }
    // The directory itself may be a link: the user named it.
    m_dir = safefs::Fd(
        ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_dir.isOpen()) {
        return failure(QStringLiteral("cannot open %1").arg(m_path), errno);
    }
    QString error = lock();
    if (error.isEmpty()) {
        error = readManifest();
    }
    if (error.isEmpty()) {
        error = checkNames();
    }
    if (error.isEmpty()) {
        error = clearLeftovers();
    }
    m_before = m_manifest;
    return error;
}

QString WebRoot::lock() {
    const QString busy =
        QStringLiteral("another export into %1 is running; try again when it has ended")
            .arg(m_path);
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool created = true;
        constexpr int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        safefs::Fd fd(::openat(m_dir.get(), lockName, flags | O_CREAT | O_EXCL, 0644));
        if (!fd.isOpen() && errno == EEXIST) {
            created = false;
            fd = safefs::Fd(::openat(m_dir.get(), lockName, flags));
        }
        struct stat own {};
        if ((!fd.isOpen() && (errno == ELOOP || errno == EISDIR)) ||
            (fd.isOpen() && (::fstat(fd.get(), &own) != 0 || !S_ISREG(own.st_mode)))) {
            return QStringLiteral("%1 is not the export's lock file: move it away")
                .arg(display(lockName));
        }
        if (!fd.isOpen()) {
            return failure(QStringLiteral("cannot write into %1").arg(m_path), errno);
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return errno == EWOULDBLOCK
                       ? busy
                       : failure(QStringLiteral("cannot lock %1").arg(m_path), errno);
        }
        // The export that held it may have removed it meanwhile: then try again.
        struct stat named {};
        if (safefs::statAt(m_dir.get(), lockName, &named) == 0 && named.st_ino == own.st_ino &&
            named.st_dev == own.st_dev) {
            m_lock = std::move(fd);
            m_lockCreated = created;
            return {};
        }
    }
    return busy;
}

QString WebRoot::readManifest() {
    QByteArray text;
    const int error = safefs::readFile(m_dir.get(), manifestName, 64 << 20, &text);
    if (error == ENOENT) {
        return {};
    }
    const QString notOurs = QStringLiteral("%1 is not a manifest the export wrote: move it away")
                                .arg(display(manifestName));
    if (error == ELOOP || error == EINVAL || error == EFBIG || error == EISDIR) {
        return notOurs;
    }
    if (error != 0) {
        return failure(QStringLiteral("cannot read %1").arg(display(manifestName)), error);
    }
    if (!Manifest::parse(text, &m_manifest)) {
        return notOurs;
    }
    m_hadManifest = true;
    return {};
}

QString WebRoot::checkNames() {
    const QString notOurs = QStringLiteral(
        "%1 is %2 that the export did not make; move it away or export into another directory "
        "(an export replaces only what it wrote)");
    // The live version is the one the current link names, if the manifest lists it.
    const auto isOurs = [this](const QByteArray& name, const struct stat& info,
                               QByteArray* target) {
        return S_ISLNK(info.st_mode) && safefs::readLinkAt(m_dir.get(), name, target) == 0 &&
               (name == currentName ? m_manifest.versions.contains(*target)
                                    : *target == linkTarget(name));
    };
    for (const QByteArray& name : QByteArrayList{currentName} + publicNames) {
        struct stat info {};
        QByteArray target;
        const int error = safefs::statAt(m_dir.get(), name, &info);
        if (error != 0 && error != ENOENT) {
            return failure(QStringLiteral("cannot look into %1").arg(m_path), error);
        }
        if (error == 0 && !isOurs(name, info, &target)) {
            return notOurs.arg(display(name), kindOf(info.st_mode));
        }
        if (error == 0 && name == currentName) {
            m_live = target;
        }
    }
    return {};
}

// A partial tree was the export's own from the moment it was listed; an old
// version that is not live is what a killed export had not yet removed.
QString WebRoot::clearLeftovers() {
    bool changed = !m_manifest.partials.isEmpty();
    for (const QByteArray& partial : sorted(m_manifest.partials)) {
        if (const int error = safefs::removeTree(m_dir.get(), partial)) {
            return failure(QStringLiteral("cannot remove %1 that an interrupted export left")
                               .arg(display(partial)),
                           error);
        }
    }
    m_manifest.partials.clear();
    for (const QByteArray& name : m_manifest.versions.keys()) {
        if (name != m_live) {
            const QString kept = removeVersion(name, m_manifest.versions.take(name));
            if (!kept.isEmpty()) {
                warn(kept);
            }
            changed = true;
        }
    }
    return changed ? writeManifest() : QString();
}

QString WebRoot::writeManifest() {
    const QByteArray temp = randomName(tempPrefix);
    int error = safefs::writeNewFile(m_dir.get(), temp, m_manifest.serialize(), true);
    if (error == 0 && ::renameat(m_dir.get(), temp.constData(), m_dir.get(), manifestName) != 0) {
        error = errno;
    }
    if (error == 0 && ::fsync(m_dir.get()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlinkat(m_dir.get(), temp.constData(), 0);
        return failure(QStringLiteral("cannot write %1").arg(display(manifestName)), error);
    }
    m_manifestChanged = true;
    return {};
}

// Listed before it is made, so a killed export's tree is known as the
// export's own and the next export removes it.
QString WebRoot::begin() {
    for (int attempt = 0; m_new.isEmpty(); ++attempt) {
        const QByteArray name = randomName(versionPrefix);
        m_manifest.partials.insert(name);
        if (const QString error = writeManifest(); !error.isEmpty()) {
            m_manifest.partials.remove(name);
            return error;
        }
        if (::mkdirat(m_dir.get(), name.constData(), 0777) == 0) {
            m_new = name;
            continue;
        }
        // Someone else's: not to be removed as a leftover of ours.
        const int error = errno;
        m_manifest.partials.remove(name);
        if (error != EEXIST || attempt == 9) {
            return failure(QStringLiteral("cannot make a folder in %1").arg(m_path), error);
        }
    }
    int error = safefs::openDirectory(m_dir.get(), m_new, false, &m_newFd);
    for (const QByteArray& dir : publicDirs) {
        error = error == 0 && ::mkdirat(m_newFd.get(), dir.constData(), 0777) != 0 ? errno : error;
    }
    return error == 0 ? QString()
                      : failure(QStringLiteral("cannot write into %1").arg(versionPath()), error);
}

QString WebRoot::prepare(const QSet<QByteArray>& files) {
    m_newVersion = versionOf(files);
    for (const QByteArray& file : files) {
        if (!publicNames.contains(file.split('/').constFirst())) {
            return QStringLiteral("%1 would not be served: it is under no public name")
                .arg(QString::fromUtf8(file));
        }
    }
    if (const QString error = carryFromLive(); !error.isEmpty()) {
        return error;
    }
    // Every page on disk before any is served.
    if (::syncfs(m_newFd.get()) != 0) {
        return failure(QStringLiteral("cannot write %1").arg(versionPath()), errno);
    }
    m_manifest.partials.remove(m_new);
    m_manifest.versions.insert(m_new, m_newVersion);
    QString error = writeManifest();
    return error.isEmpty() ? makeLinks() : error;
}

// Nothing to carry when nothing is live, or someone removed the live folder.
QString WebRoot::carryFromLive() {
    safefs::Fd live;
    const int error =
        m_live.isEmpty() ? ENOENT : safefs::openDirectory(m_dir.get(), m_live, false, &live);
    if (error != 0) {
        return error == ENOENT
                   ? QString()
                   : failure(QStringLiteral("cannot read %1").arg(display(m_live)), error);
    }
    return carryDirectory(live.get(), m_newFd.get(), {}, m_manifest.versions.value(m_live));
}

QString WebRoot::carryDirectory(int from, int to, const QByteArray& relative, const Version& ours) {
    QList<safefs::Entry> entries;
    if (const int error = safefs::listDirectory(from, &entries)) {
        return failure(QStringLiteral("cannot read %1").arg(display(relative)), error);
    }
    for (const safefs::Entry& entry : entries) {
        const QByteArray path = relative.isEmpty() ? entry.name : relative + '/' + entry.name;
        if (S_ISREG(entry.info.st_mode) && ours.files.contains(path)) {
            continue;
        }
        if (QString error = carryEntry(from, to, entry, path, ours); !error.isEmpty()) {
            return error;
        }
    }
    return {};
}

// Others' files are kept: a file by a hard link (the same file, no copy), a
// link as a link, a folder with all it holds. The export's own folders are
// gone through for others' files.
QString WebRoot::carryEntry(int from, int to, const safefs::Entry& entry, const QByteArray& path,
                            const Version& ours) {
    const mode_t mode = entry.info.st_mode;
    const bool ownFolder = S_ISDIR(mode) && ours.dirs.contains(path);
    struct stat there {};
    const bool taken = safefs::statAt(to, entry.name, &there) == 0;
    if (taken && !(ownFolder && S_ISDIR(there.st_mode))) {
        return QStringLiteral("%1 is not the export's own, and the new export writes that name: "
                              "move it away")
            .arg(display(path));
    }
    if (!S_ISDIR(mode) && !S_ISREG(mode) && !S_ISLNK(mode)) {
        return QStringLiteral("cannot keep %1 in the new export: it is %2")
            .arg(display(path), kindOf(mode));
    }
    int error = 0;
    if (ownFolder && !taken) {
        error = ::mkdirat(to, entry.name.constData(), 0777) == 0 ? 0 : errno;
        m_newVersion.dirs.insert(path);
    } else if (!ownFolder) {
        error = linkEntry(from, to, entry);
        (S_ISDIR(mode) ? m_carried.dirs : m_carried.files).insert(path);
    }
    if (error == 0 && S_ISDIR(mode)) {
        safefs::Fd fromDir;
        safefs::Fd toDir;
        error = safefs::openDirectory(from, entry.name, false, &fromDir);
        error = error != 0 ? error : safefs::openDirectory(to, entry.name, false, &toDir);
        if (error == 0) {
            return carryDirectory(fromDir.get(), toDir.get(), path, ours);
        }
    }
    return error == 0
               ? QString()
               : failure(QStringLiteral("cannot keep %1 in the new export").arg(display(path)),
                         error);
}

QString WebRoot::makeLinks() {
    for (const QByteArray& name : publicNames) {
        struct stat info {};
        if (safefs::statAt(m_dir.get(), name, &info) == 0) {
            continue;
        }
        if (::symlinkat(linkTarget(name).constData(), m_dir.get(), name.constData()) != 0) {
            return failure(QStringLiteral("cannot make %1").arg(display(name)), errno);
        }
        m_madeLinks.append(name);
    }
    return {};
}

// One rename, so a web server sees the previous export or the new one, whole.
QString WebRoot::switchOver() {
    const QByteArray temp = randomName(tempPrefix);
    int error = ::symlinkat(m_new.constData(), m_dir.get(), temp.constData()) == 0 ? 0 : errno;
    if (error == 0 && ::renameat(m_dir.get(), temp.constData(), m_dir.get(), currentName) != 0) {
        error = errno;
        ::unlinkat(m_dir.get(), temp.constData(), 0);
    }
    if (error != 0) {
        return failure(
            QStringLiteral("cannot switch %1 to the new export").arg(display(currentName)), error);
    }
    m_switched = true;
    if (::fsync(m_dir.get()) != 0) {
        warn(failure(QStringLiteral("cannot sync %1").arg(m_path), errno));
    }
    removePrevious();
    return {};
}

void WebRoot::removePrevious() {
    if (m_live.isEmpty()) {
        return;
    }
    Version own = m_manifest.versions.take(m_live);
    // Others' files live on in the new version, linked there.
    own.dirs.unite(m_carried.dirs);
    own.files.unite(m_carried.files);
    const QString kept = removeVersion(m_live, own);
    const QString error = writeManifest();
    for (const QString& text : {kept, error}) {
        if (!text.isEmpty()) {
            warn(text);
        }
    }
}

QString WebRoot::removeVersion(const QByteArray& name, const Version& own) {
    safefs::Fd root;
    const int error = safefs::openDirectory(m_dir.get(), name, false, &root);
    if (error != 0) {
        return error == ENOENT
                   ? QString()
                   : failure(QStringLiteral("cannot remove %1").arg(display(name)), error);
    }
    bool whole = true;
    for (const QByteArray& file : sorted(own.files)) {
        whole = removeAt(root.get(), file, 0) && whole;
    }
    for (const QByteArray& dir : deepestFirst(own.dirs)) {
        whole = removeAt(root.get(), dir, AT_REMOVEDIR) && whole;
    }
    if (whole &&
        (::unlinkat(m_dir.get(), name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT)) {
        return {};
    }
    return QStringLiteral("kept %1: it holds files the export did not write (added while it ran?)")
        .arg(display(name));
}

void WebRoot::abandon() {
    if (m_switched) {
        return;
    }
    for (const QByteArray& name : m_madeLinks) {
        ::unlinkat(m_dir.get(), name.constData(), 0);
    }
    m_newFd = safefs::Fd();
    if (const int error = m_new.isEmpty() ? 0 : safefs::removeTree(m_dir.get(), m_new)) {
        warn(failure(QStringLiteral("cannot remove %1").arg(versionPath()), error));
    }
    if (!m_manifestChanged || !m_dir.isOpen()) {
        return;
    }
    m_manifest = m_before;
    if (m_hadManifest) {
        const QString error = writeManifest();
        if (!error.isEmpty()) {
            warn(error);
        }
    } else {
        ::unlinkat(m_dir.get(), manifestName, 0);
    }
}

} // namespace webroot

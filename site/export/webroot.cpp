#include "webroot.h"

#include "addresses.h"
#include "pages.h"

#include <QCryptographicHash>
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
const QByteArray aboutFile = QByteArray(addresses::aboutPath).mid(1);
const QByteArrayList publicNames = {
    "index.html",      "404.html",      "style.css",     lookupFolder,   searchFolder,
    "icons",           aboutFile,       "index.html.gz", "404.html.gz",  "style.css.gz",
    aboutFile + ".gz", "index.html.br", "404.html.br",   "style.css.br", aboutFile + ".br"};
const QByteArrayList publishedNames = {"sitemap.xml", "robots.txt", "opensearch.xml", "sitemaps",
                                       "assets"};

namespace {

constexpr const char* lockName = ".quelvix-export.lock";
constexpr const char* manifestName = ".quelvix-export-manifest";
constexpr const char* currentName = ".quelvix-export-current";
constexpr const char* versionPrefix = ".quelvix-export-";
// Briefly, for a file or link that a rename then puts in place.
constexpr const char* tempPrefix = ".quelvix-export-tmp-";
constexpr const char* manifestHeader = "quelvix-export manifest 2";
const QByteArrayList publicDirs = {lookupFolder, searchFolder, "icons"};
const QByteArrayList publishedDirs = {"sitemaps", "assets"};

// Unguessable, so nobody can plant a link where the next version will be.
QByteArray randomName(const char* prefix) {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name(prefix);
    for (int i = 0; i < 12; ++i) {
        name += letters[QRandomGenerator::system()->bounded(int(sizeof letters) - 1)];
    }
    return name;
}

bool isVersionName(QByteArrayView name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.quelvix-export-[A-Za-z0-9]{12}$"));
    return pattern.match(QString::fromLatin1(name)).hasMatch();
}

bool isTemporaryName(const QByteArray& name) {
    return name.startsWith(tempPrefix) && name.size() == qsizetype(strlen(tempPrefix)) + 12;
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

QString kindOf(mode_t mode, const Say& say) {
    return S_ISDIR(mode)   ? say("文件夹", "a folder")
           : S_ISLNK(mode) ? say("符号链接", "a link")
           : S_ISREG(mode) ? say("文件", "a file")
                           : say("特殊文件", "not a plain file");
}

qint64 mtimeOf(const struct stat& info) {
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

QByteArray identityOf(const struct stat& info) {
    return QByteArray::number(quint64(info.st_dev)) + ':' +
           QByteArray::number(quint64(info.st_ino));
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Every folder a file needs, and the public ones even when empty.
Version versionOf(const QHash<QByteArray, FileRecord>& files, const QByteArrayList& dirs) {
    Version version{QSet<QByteArray>(dirs.begin(), dirs.end()), files};
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        for (QByteArray dir = safefs::parentOf(file.key()); !dir.isEmpty();
             dir = safefs::parentOf(dir)) {
            version.dirs.insert(dir);
        }
    }
    return version;
}

QByteArrayList sorted(const QList<QByteArray>& list) {
    QByteArrayList result = list;
    std::sort(result.begin(), result.end());
    return result;
}

QByteArrayList sorted(const QSet<QByteArray>& set) {
    return sorted(QByteArrayList(set.begin(), set.end()));
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

// Whether `other`'s entry of the same name is this very entry of `from`: the
// same file by another hard link, or a link with the same text.
bool isDuplicate(int from, int other, const safefs::Entry& entry) {
    struct stat there {};
    if (other < 0 || safefs::statAt(other, entry.name, &there) != 0) {
        return false;
    }
    if (S_ISLNK(entry.info.st_mode) && S_ISLNK(there.st_mode)) {
        QByteArray mine;
        QByteArray theirs;
        return safefs::readLinkAt(from, entry.name, &mine) == 0 &&
               safefs::readLinkAt(other, entry.name, &theirs) == 0 && mine == theirs;
    }
    return !S_ISDIR(entry.info.st_mode) && sameFile(entry.info, there);
}

// One manifest line's words, split at spaces.
QList<QByteArrayView> wordsOf(QByteArrayView line) {
    QList<QByteArrayView> words;
    for (qsizetype start = 0; start <= line.size();) {
        const qsizetype space = line.indexOf(' ', start);
        const qsizetype end = space < 0 ? line.size() : space;
        words.append(line.sliced(start, end - start));
        start = end + 1;
    }
    return words;
}

} // namespace

QByteArray FileRecord::hashOf(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}

FileRecord FileRecord::of(const QByteArray& hash, const struct stat& written) {
    return {qint64(written.st_size), mtimeOf(written), hash};
}

bool FileRecord::isOn(int dir, const QByteArray& name) const {
    QByteArray content;
    struct stat info {};
    return safefs::statAt(dir, name, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == size &&
           mtimeOf(info) == mtime && safefs::readFile(dir, name, size, &content) == 0 &&
           hashOf(content) == hash;
}

// One line per entry, paths percent-encoded, sorted: the same state always
// gives the same bytes.
QByteArray Manifest::serialize() const {
    QByteArray text = QByteArray(manifestHeader) + '\n';
    for (auto partial = partials.cbegin(); partial != partials.cend(); ++partial) {
        text += "partial " + partial.key();
        text += partial->isEmpty() ? QByteArray("\n") : ' ' + partial.value() + '\n';
    }
    for (auto version = versions.cbegin(); version != versions.cend(); ++version) {
        text += "version " + version.key() + '\n';
        for (const QByteArray& dir : sorted(version->dirs)) {
            text += "dir " + dir.toPercentEncoding("/") + '\n';
        }
        for (const QByteArray& file : sorted(version->files.keys())) {
            const FileRecord& record = version->files[file];
            text += "file " + file.toPercentEncoding("/") + ' ' + QByteArray::number(record.size) +
                    ' ' + QByteArray::number(record.mtime) + ' ' + record.hash.toHex() + '\n';
        }
    }
    return text;
}

// Read in place, line by line: a large manifest costs its size once.
bool Manifest::parse(const QByteArray& text, Manifest* manifest) {
    const QByteArray header = QByteArray(manifestHeader) + '\n';
    if (text.size() > maxSize || !text.startsWith(header) || !text.endsWith('\n')) {
        return false;
    }
    Version* current = nullptr;
    for (qsizetype start = header.size(); start < text.size();) {
        const qsizetype end = text.indexOf('\n', start);
        const QList<QByteArrayView> words =
            wordsOf(QByteArrayView(text).sliced(start, end - start));
        start = end + 1;
        const QByteArrayView kind = words.constFirst();
        const QByteArray path =
            words.size() > 1 ? QByteArray::fromPercentEncoding(words[1].toByteArray()) : "";
        bool ok = words.size() == 2 || (kind == "partial" && words.size() == 3);
        if ((kind == "partial" || kind == "version") && ok && isVersionName(words[1])) {
            current = kind == "version" ? &manifest->versions[path] : nullptr;
            if (kind == "partial") {
                manifest->partials.insert(path, words.value(2).toByteArray());
            }
        } else if (current != nullptr && kind == "dir" && ok && safefs::isPlainPath(path)) {
            current->dirs.insert(path);
        } else if (current != nullptr && kind == "file" && words.size() == 5 &&
                   safefs::isPlainPath(path)) {
            FileRecord record{words[2].toLongLong(&ok), 0,
                              QByteArray::fromHex(words[4].toByteArray())};
            bool timeOk = false;
            record.mtime = words[3].toLongLong(&timeOk);
            if (!ok || !timeOk || record.hash.size() != 32) {
                return false;
            }
            current->files.insert(path, record);
        } else {
            return false;
        }
    }
    return true;
}

WebRoot::WebRoot(QString path, bool chinese, bool published)
    : m_path(std::move(path))
    , say(chinese)
    , m_names(published ? publicNames + publishedNames : publicNames)
    , m_dirs(published ? publicDirs + publishedDirs : publicDirs) {}

WebRoot::~WebRoot() {
    m_newFd = safefs::Fd();
    m_liveFd = safefs::Fd();
    // Removed while still held, so nobody locks a lock file that is gone;
    // one a killed export left too, while empty as the export leaves it.
    struct stat held {};
    if (m_lock.isOpen() && ::fstat(m_lock.get(), &held) == 0 && held.st_size == 0) {
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
        return say("%1 已存在，且不是文件夹", "%1 exists and is not a directory").arg(m_path);
    }
    if (!info.exists()) {
        if (!QDir().mkpath(m_path)) {
            return say("无法创建文件夹 %1", "cannot create the directory %1").arg(m_path);
        }
        m_created = true;
    }
    // The directory itself may be a link: the user named it.
    m_dir = safefs::Fd(
        ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_dir.isOpen()) {
        return failure(say("无法打开 %1", "cannot open %1").arg(m_path), errno);
    }
    QString error = lock();
    if (error.isEmpty()) {
        error = readManifest();
    }
    if (error.isEmpty()) {
        error = checkNames();
    }
    if (error.isEmpty() && !m_live.isEmpty()) {
        // Gone or not a folder: then nothing is live to keep or share.
        safefs::openDirectory(m_dir.get(), m_live, false, &m_liveFd);
    }
    if (error.isEmpty()) {
        error = clearLeftovers();
    }
    m_before = m_manifest;
    return error;
}

QString WebRoot::lock() {
    const QString busy = say("另一个导出正在写入 %1，请等它结束后再试",
                             "another export into %1 is running; try again when it has ended")
                             .arg(m_path);
    for (int attempt = 0; attempt < 3; ++attempt) {
        constexpr int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        safefs::Fd fd(::openat(m_dir.get(), lockName, flags | O_CREAT | O_EXCL, 0644));
        if (!fd.isOpen() && errno == EEXIST) {
            fd = safefs::Fd(::openat(m_dir.get(), lockName, flags));
        }
        struct stat own {};
        if ((!fd.isOpen() && (errno == ELOOP || errno == EISDIR)) ||
            (fd.isOpen() && (::fstat(fd.get(), &own) != 0 || !S_ISREG(own.st_mode)))) {
            return say("%1 不是导出的锁文件：请把它移走",
                       "%1 is not the export's lock file: move it away")
                .arg(display(lockName));
        }
        if (!fd.isOpen()) {
            return failure(say("无法写入 %1", "cannot write into %1").arg(m_path), errno);
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return errno == EWOULDBLOCK
                       ? busy
                       : failure(say("无法锁定 %1", "cannot lock %1").arg(m_path), errno);
        }
        // The export that held it may have removed it meanwhile: then try again.
        struct stat named {};
        if (safefs::statAt(m_dir.get(), lockName, &named) == 0 && sameFile(named, own)) {
            m_lock = std::move(fd);
            return {};
        }
    }
    return busy;
}

QString WebRoot::readManifest() {
    QByteArray text;
    const int error = safefs::readFile(m_dir.get(), manifestName, Manifest::maxSize, &text);
    if (error == ENOENT) {
        return {};
    }
    const QString notOurs = say("%1 不是导出写的清单：请把它移走",
                                "%1 is not a manifest the export wrote: move it away")
                                .arg(display(manifestName));
    if (error == ELOOP || error == EINVAL || error == EFBIG || error == EISDIR) {
        return notOurs;
    }
    if (error != 0) {
        return failure(say("无法读取 %1", "cannot read %1").arg(display(manifestName)), error);
    }
    if (!Manifest::parse(text, &m_manifest)) {
        return notOurs;
    }
    m_hadManifest = true;
    return {};
}

QString WebRoot::checkNames() {
    const QString notOurs =
        say("%1 是%2，不是导出建立的；请把它移走，或导出到别的文件夹（导出只替换它自己写的东西）",
            "%1 is %2 that the export did not make; move it away or export into another "
            "directory (an export replaces only what it wrote)");
    // The live version is the one the current link names, if the manifest lists it.
    const auto isOurs = [this](const QByteArray& name, const struct stat& info,
                               QByteArray* target) {
        return S_ISLNK(info.st_mode) && safefs::readLinkAt(m_dir.get(), name, target) == 0 &&
               (name == currentName ? m_manifest.versions.contains(*target)
                                    : *target == linkTarget(name));
    };
    // A name this export does not write may be anyone's; the export's own
    // link by that name goes once the new version is live.
    for (const QByteArray& name : QByteArrayList{currentName} + publicNames + publishedNames) {
        struct stat info {};
        QByteArray target;
        const bool written = name == currentName || m_names.contains(name);
        const int error = safefs::statAt(m_dir.get(), name, &info);
        if (error != 0 && error != ENOENT) {
            return failure(say("无法查看 %1", "cannot look into %1").arg(m_path), error);
        }
        const bool ours = error == 0 && isOurs(name, info, &target);
        if (error == 0 && !ours && written) {
            return notOurs.arg(display(name), kindOf(info.st_mode, say));
        }
        if (ours && !written) {
            m_staleLinks.append(name);
        }
        if (error == 0 && name == currentName) {
            m_live = target;
        }
    }
    return {};
}

// What an interrupted export left: its partial folder, versions that are
// no longer live, and a link or manifest it had not yet renamed into place.
QString WebRoot::clearLeftovers() {
    bool changed = !m_manifest.partials.isEmpty();
    const QMap<QByteArray, QByteArray> partials = std::exchange(m_manifest.partials, {});
    for (auto partial = partials.cbegin(); partial != partials.cend(); ++partial) {
        clearPartial(partial.key(), partial.value());
    }
    for (const QByteArray& name : m_manifest.versions.keys()) {
        if (name == m_live) {
            continue;
        }
        const QString kept = removeVersion(name, m_manifest.versions.value(name), m_live);
        if (kept.isEmpty()) {
            m_manifest.versions.remove(name);
        } else {
            warn(kept);
        }
        changed = true;
    }
    clearTemporaries();
    return changed ? writeManifest() : QString();
}

// A partial folder is removed only when it is the folder the export made
// (the same inode), or still empty; never the live version or another listed
// one, whatever the manifest says.
void WebRoot::clearPartial(const QByteArray& name, const QByteArray& identity) {
    struct stat info {};
    if (name == m_live || m_manifest.versions.contains(name) ||
        safefs::statAt(m_dir.get(), name, &info) != 0) {
        return;
    }
    int error = 0;
    if (S_ISDIR(info.st_mode) && identity == identityOf(info)) {
        error = safefs::removeTree(m_dir.get(), name);
    } else if (S_ISDIR(info.st_mode) &&
               ::unlinkat(m_dir.get(), name.constData(), AT_REMOVEDIR) != 0) {
        error = errno;
    }
    if (error != 0) {
        warn(failure(say("保留了 %1：它不是中断的导出留下的空文件夹",
                         "kept %1: it is not an empty folder an interrupted export left")
                         .arg(display(name)),
                     error));
    }
}

// A switch or manifest write that was cut short leaves its temporary link
// or file: a link to a version folder, or a file that is a manifest.
void WebRoot::clearTemporaries() {
    QList<safefs::Entry> entries;
    safefs::listDirectory(m_dir.get(), &entries);
    for (const safefs::Entry& entry : entries) {
        QByteArray content;
        const bool ours =
            isTemporaryName(entry.name) &&
            (S_ISLNK(entry.info.st_mode)
                 ? safefs::readLinkAt(m_dir.get(), entry.name, &content) == 0 &&
                       isVersionName(content)
                 : safefs::readFile(m_dir.get(), entry.name, Manifest::maxSize, &content) == 0 &&
                       content.startsWith(manifestHeader));
        if (ours) {
            ::unlinkat(m_dir.get(), entry.name.constData(), 0);
        }
    }
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
        return failure(say("无法写入 %1", "cannot write %1").arg(display(manifestName)), error);
    }
    m_manifestChanged = true;
    return {};
}

// Listed before it is made, so a killed export's tree is known as the
// export's own, and listed again with its inode once made, so the next
// export removes that folder and no other.
QString WebRoot::begin() {
    for (int attempt = 0; m_new.isEmpty(); ++attempt) {
        const QByteArray name = randomName(versionPrefix);
        m_manifest.partials.insert(name, {});
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
            return failure(say("无法在 %1 中建立文件夹", "cannot make a folder in %1").arg(m_path),
                           error);
        }
    }
    int error = safefs::openDirectory(m_dir.get(), m_new, false, &m_newFd);
    struct stat made {};
    error = error == 0 && ::fstat(m_newFd.get(), &made) != 0 ? errno : error;
    if (error == 0) {
        m_manifest.partials.insert(m_new, identityOf(made));
        if (const QString failed = writeManifest(); !failed.isEmpty()) {
            return failed;
        }
    }
    for (const QByteArray& dir : m_dirs) {
        error = error == 0 && ::mkdirat(m_newFd.get(), dir.constData(), 0777) != 0 ? errno : error;
    }
    return error == 0
               ? QString()
               : failure(say("无法写入 %1", "cannot write into %1").arg(versionPath()), error);
}

bool WebRoot::reuse(const QByteArray& file, const FileRecord& fresh, FileRecord* kept) const {
    const FileRecord old = m_manifest.versions.value(m_live).files.value(file);
    const bool asItIs = fresh.hash.isEmpty();
    if (!m_liveFd.isOpen() || old.size < 0 ||
        (!asItIs && (old.hash != fresh.hash || old.size != fresh.size))) {
        return false;
    }
    safefs::Fd from;
    safefs::Fd to;
    struct stat info {};
    const QByteArray parent = safefs::parentOf(file);
    const QByteArray name = safefs::nameOf(file);
    // Its content is checked against the hash before the switch.
    if (safefs::openDirectory(m_liveFd.get(), parent, false, &from) != 0 ||
        safefs::statAt(from.get(), name, &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size != old.size || mtimeOf(info) != old.mtime ||
        safefs::openDirectory(m_newFd.get(), parent, true, &to) != 0 ||
        ::linkat(from.get(), name.constData(), to.get(), name.constData(), 0) != 0) {
        return false;
    }
    *kept = old;
    return true;
}

QString WebRoot::prepare(const QHash<QByteArray, FileRecord>& files) {
    m_newVersion = versionOf(files, m_dirs);
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        if (!m_names.contains(file.key().split('/').constFirst())) {
            return say("%1 不会被提供：它不在任何公开名称之下",
                       "%1 would not be served: it is under no public name")
                .arg(QString::fromUtf8(file.key()));
        }
    }
    if (const QString error = carryFromLive(); !error.isEmpty()) {
        return error;
    }
    // Every page on disk before any is served.
    if (::syncfs(m_newFd.get()) != 0) {
        return failure(say("无法写入 %1", "cannot write %1").arg(versionPath()), errno);
    }
    m_manifest.partials.remove(m_new);
    m_manifest.versions.insert(m_new, m_newVersion);
    QString error = writeManifest();
    return error.isEmpty() ? makeLinks() : error;
}

// Nothing to carry when nothing is live, or someone removed the live folder.
QString WebRoot::carryFromLive() {
    if (!m_liveFd.isOpen()) {
        return {};
    }
    return carryDirectory(m_liveFd.get(), m_newFd.get(), {}, m_manifest.versions.value(m_live));
}

QString WebRoot::carryDirectory(int from, int to, const QByteArray& relative, const Version& ours) {
    QList<safefs::Entry> entries;
    if (const int error = safefs::listDirectory(from, &entries)) {
        return failure(say("无法读取 %1", "cannot read %1").arg(display(relative)), error);
    }
    for (const safefs::Entry& entry : entries) {
        const QByteArray path = relative.isEmpty() ? entry.name : relative + '/' + entry.name;
        // The export's own file only while it is as the export wrote it: an
        // edited or replaced one is the user's now.
        const auto own = ours.files.constFind(path);
        if (own != ours.files.cend() && own->isOn(from, entry.name)) {
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
        return say("%1 不是导出写的（或写好后被改过、换过），而新的导出要写同一个名字："
                   "什么都没有改动；请把它移走（或改名）后再导出",
                   "%1 is not the export's own (or was edited or replaced since it was "
                   "written), and the new export writes that name: nothing was changed; move "
                   "it away (or rename it) and export again")
            .arg(display(path));
    }
    if (!S_ISDIR(mode) && !S_ISREG(mode) && !S_ISLNK(mode)) {
        return say("无法把 %1 保留到新的导出中：它是%2",
                   "cannot keep %1 in the new export: it is %2")
            .arg(display(path), kindOf(mode, say));
    }
    int error = 0;
    if (ownFolder && !taken) {
        error = ::mkdirat(to, entry.name.constData(), 0777) == 0 ? 0 : errno;
        m_newVersion.dirs.insert(path);
    } else if (!ownFolder) {
        error = linkEntry(from, to, entry);
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
               : failure(say("无法把 %1 保留到新的导出中", "cannot keep %1 in the new export")
                             .arg(display(path)),
                         error);
}

QString WebRoot::makeLinks() {
    for (const QByteArray& name : m_names) {
        struct stat info {};
        if (safefs::statAt(m_dir.get(), name, &info) == 0) {
            continue;
        }
        if (::symlinkat(linkTarget(name).constData(), m_dir.get(), name.constData()) != 0) {
            return failure(say("无法建立 %1", "cannot make %1").arg(display(name)), errno);
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
        return failure(say("无法把 %1 切换到新的导出", "cannot switch %1 to the new export")
                           .arg(display(currentName)),
                       error);
    }
    m_switched = true;
    for (const QByteArray& name : m_staleLinks) {
        ::unlinkat(m_dir.get(), name.constData(), 0);
    }
    if (::fsync(m_dir.get()) != 0) {
        warn(failure(say("无法同步 %1", "cannot sync %1").arg(m_path), errno));
    }
    removePrevious();
    return {};
}

void WebRoot::removePrevious() {
    if (m_live.isEmpty()) {
        return;
    }
    // Others' files live on in the new version, linked there.
    const QString kept = removeVersion(m_live, m_manifest.versions.value(m_live), m_new);
    if (kept.isEmpty()) {
        m_manifest.versions.remove(m_live);
    }
    const QString error = writeManifest();
    for (const QString& text : {kept, error}) {
        if (!text.isEmpty()) {
            warn(text);
        }
    }
}

// Removes from a version that is not live what the export wrote there, as it
// wrote it, and what the live version holds too (the same file by another
// link, or an equal link): nothing that exists only there.
QString WebRoot::removeVersion(const QByteArray& name, const Version& own, const QByteArray& live) {
    safefs::Fd root;
    safefs::Fd liveRoot;
    const int error = safefs::openDirectory(m_dir.get(), name, false, &root);
    if (error != 0) {
        return error == ENOENT
                   ? QString()
                   : failure(say("无法删除 %1", "cannot remove %1").arg(display(name)), error);
    }
    if (!live.isEmpty()) {
        safefs::openDirectory(m_dir.get(), live, false, &liveRoot);
    }
    if (removeOwn(root.get(), liveRoot.isOpen() ? liveRoot.get() : -1, {}, own) &&
        (::unlinkat(m_dir.get(), name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT)) {
        return {};
    }
    return say("保留了 %1：其中有导出没有写过的文件（导出运行时放进去的？）",
               "kept %1: it holds files the export did not write (added while it ran?)")
        .arg(display(name));
}

// Whether all of the folder could go.
bool WebRoot::removeOwn(int from, int live, const QByteArray& relative, const Version& own) {
    QList<safefs::Entry> entries;
    if (safefs::listDirectory(from, &entries) != 0) {
        return false;
    }
    bool whole = true;
    for (const safefs::Entry& entry : entries) {
        const QByteArray path = relative.isEmpty() ? entry.name : relative + '/' + entry.name;
        if (S_ISDIR(entry.info.st_mode)) {
            safefs::Fd dir;
            safefs::Fd liveDir;
            if (live >= 0) {
                safefs::openDirectory(live, entry.name, false, &liveDir);
            }
            whole = safefs::openDirectory(from, entry.name, false, &dir) == 0 &&
                    removeOwn(dir.get(), liveDir.isOpen() ? liveDir.get() : -1, path, own) &&
                    ::unlinkat(from, entry.name.constData(), AT_REMOVEDIR) == 0 && whole;
            continue;
        }
        const auto record = own.files.constFind(path);
        const bool removable = isDuplicate(from, live, entry) ||
                               (record != own.files.cend() && record->isOn(from, entry.name));
        whole = removable &&
                (::unlinkat(from, entry.name.constData(), 0) == 0 || errno == ENOENT) && whole;
    }
    return whole;
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
        warn(failure(say("无法删除 %1", "cannot remove %1").arg(versionPath()), error));
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

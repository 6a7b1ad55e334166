#include "content.h"
#include "filecheck.h"
#include "kinds.h"
#include "names.h"
#include "notices.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filecheck {
namespace {

// Enough for every signature the two databases look for (an ISO 9660 volume
// descriptor sits at 32 KiB), and the same cost for a 4 GB file as for a
// small one.
constexpr qsizetype headSize = 64 * 1024;

class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_;
};

// What looking at the path found before any type was worked out.
struct Look {
    Outcome outcome = Outcome::Unreadable;
    QString sentence;
    QByteArray head;
    QString inodeType; // inode/directory and the like, for what is no file
    QString target;
};

Look refused(Outcome outcome, const QString& sentence) {
    Look look;
    look.outcome = outcome;
    look.sentence = sentence;
    return look;
}

Look unreadable() {
    return refused(Outcome::Unreadable,
                   QStringLiteral("读取这个文件时出错了，它所在的磁盘或网络位置可能有问题。"));
}

Look noPermission() {
    return refused(
        Outcome::NoPermission,
        QStringLiteral("没有权限读取这个文件（或者进入它所在的文件夹）。"
                       "请让文件的主人开放读取权限，或者把它复制到你能读取的地方再查。"));
}

bool isDanglingLink(const QByteArray& path) {
    struct stat link {};
    return ::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode);
}

Look failedToOpen(const QByteArray& path, int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        if (isDanglingLink(path))
            return refused(Outcome::Missing,
                           QStringLiteral("这是一个链接，可它指向的文件已经不存在了。"));
        return refused(Outcome::Missing,
                       QStringLiteral("找不到这个文件：它不存在，或者已经被移走、删除了。"));
    case EACCES:
    case EPERM:
        return noPermission();
    case ELOOP:
        return refused(Outcome::Unreadable,
                       QStringLiteral("这个链接绕成了一个圈，找不到真正的文件。"));
    case ENAMETOOLONG:
        return refused(Outcome::Unreadable, QStringLiteral("这个路径太长，系统打不开它。"));
    default:
        return unreadable();
    }
}

Look notAFile(mode_t mode) {
    Look look;
    switch (mode & S_IFMT) {
    case S_IFDIR:
        look =
            refused(Outcome::Folder,
                    QStringLiteral("这是一个文件夹，不是文件。请打开它，选里面的某个文件来查。"));
        look.inodeType = QStringLiteral("inode/directory");
        break;
    case S_IFCHR:
    case S_IFBLK:
        look = refused(Outcome::Device, QStringLiteral("这是一个设备（代表磁盘、终端之类的硬件），"
                                                       "不是普通文件，所以不去读它。"));
        look.inodeType = S_ISCHR(mode) ? QStringLiteral("inode/chardevice")
                                       : QStringLiteral("inode/blockdevice");
        break;
    case S_IFIFO:
        look =
            refused(Outcome::Pipe, QStringLiteral("这是一个管道（FIFO），是程序之间传递数据用的，"
                                                  "不是普通文件，所以不去读它。"));
        look.inodeType = QStringLiteral("inode/fifo");
        break;
    case S_IFSOCK:
        look = refused(Outcome::Socket, QStringLiteral("这是一个套接字，是程序之间通信用的，"
                                                       "不是普通文件，里面没有可查的内容。"));
        look.inodeType = QStringLiteral("inode/socket");
        break;
    default:
        look = refused(Outcome::Unreadable, QStringLiteral("这不是普通文件，所以不去读它。"));
    }
    return look;
}

// A link planted among received files ("notes.txt" -> ~/.ssh/id_rsa or
// /etc/passwd) would have the app describe a file of the user's own as the
// one received; what it leads to is named, and left unread.
Look linkElsewhere(const QString& target) {
    Look look = refused(
        Outcome::LinkElsewhere,
        QStringLiteral("这个名字是一个链接，指向你的主文件夹和它所在的文件夹之外的“%1”。"
                       "它指向的不是这个文件本身，所以这里不去读它。如果这个链接不是你自己建的，"
                       "不要相信它；要查它指向的文件，请直接打开那个文件。")
            .arg(escapeInvisible(target)));
    look.target = target;
    return look;
}

QByteArray realPathOf(const QByteArray& path, int fd) {
    // The descriptor knows which file was opened; the path may since lead elsewhere.
    char buffer[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer);
    if (length > 0 && size_t(length) < sizeof buffer)
        return QByteArray(buffer, length);
    char* resolved = ::realpath(path.constData(), nullptr);
    const QByteArray real(resolved);
    std::free(resolved);
    return real;
}

QByteArray canonical(const QByteArray& path) {
    char* resolved = ::realpath(path.constData(), nullptr);
    const QByteArray real(resolved);
    std::free(resolved);
    return real;
}

bool within(const QByteArray& path, const QByteArray& folder) {
    if (folder.isEmpty())
        return false;
    if (path == folder || folder == "/")
        return true;
    return path.startsWith(folder + '/');
}

// Where the path really leads, when a link takes it out of the user's home
// and out of the folder the path names; empty otherwise.
QString targetElsewhere(const QByteArray& path, int fd) {
    const QByteArray real = realPathOf(path, fd);
    QByteArray absolute =
        path.startsWith('/') ? path : QFile::encodeName(QDir::currentPath()) + '/' + path;
    while (absolute.size() > 1 && absolute.endsWith('/'))
        absolute.chop(1);
    const qsizetype slash = absolute.lastIndexOf('/');
    const QByteArray folder = slash <= 0 ? QByteArray("/") : absolute.left(slash);
    if (real.isEmpty() || within(real, canonical(folder)) ||
        within(real, canonical(QFile::encodeName(QDir::homePath()))))
        return {};
    return QFile::decodeName(real);
}

// Opens the file the descriptor names for reading. Through /proc the very
// file that was checked is opened; without /proc the path is opened again
// and must still be that file.
int openForReading(int pathFd, const QByteArray& path, const struct stat& checked) {
    constexpr int flags = O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
    const QByteArray viaProc = "/proc/self/fd/" + QByteArray::number(pathFd);
    const int fd = ::open(viaProc.constData(), flags);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    const int again = ::open(path.constData(), flags);
    struct stat now {};
    if (again < 0)
        return again;
    if (::fstat(again, &now) != 0 || now.st_dev != checked.st_dev || now.st_ino != checked.st_ino) {
        ::close(again);
        errno = ESTALE;
        return -1;
    }
    return again;
}

Look readHead(int pathFd, const QByteArray& path, const struct stat& checked) {
    const Descriptor file(openForReading(pathFd, path, checked));
    if (!file.isOpen()) {
        if (errno == EACCES || errno == EPERM)
            return noPermission();
        if (errno == ESTALE)
            return refused(Outcome::Unreadable,
                           QStringLiteral("检查时这个文件被换掉了，请再试一次。"));
        return unreadable();
    }
    Look look;
    look.head.resize(headSize);
    qsizetype got = 0;
    while (got < headSize) {
        const ssize_t n = ::read(file.get(), look.head.data() + got, size_t(headSize - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && got == 0)
            return unreadable();
        if (n <= 0)
            break;
        got += n;
    }
    look.head.truncate(got);
    if (got == 0)
        return refused(Outcome::Empty,
                       QStringLiteral("这是一个空文件，里面什么也没有，看不出它原本是什么类型。"));
    look.outcome = Outcome::Read;
    return look;
}

Look lookAt(const QByteArray& path) {
    if (path.isEmpty() || path.contains('\0'))
        return refused(Outcome::Unreadable, QStringLiteral("这个文件名无效。"));
    // O_PATH opens nothing: no device driver is woken (opening some devices
    // has effects of its own), no FIFO waits for a writer, and no read
    // permission is needed to learn what the path is.
    const Descriptor handle(::open(path.constData(), O_PATH | O_CLOEXEC));
    if (!handle.isOpen())
        return failedToOpen(path, errno);
    struct stat checked {};
    if (::fstat(handle.get(), &checked) != 0)
        return unreadable();
    if (const QString target = targetElsewhere(path, handle.get()); !target.isEmpty())
        return linkElsewhere(target);
    return S_ISREG(checked.st_mode) ? readHead(handle.get(), path, checked)
                                    : notAFile(checked.st_mode);
}

// What the name claims to be. Only an extension claims anything: a whole
// name that happens to be a type's ("ChangeLog", "Makefile") is no disguise.
Family familyOfName(const QString& extension, const QString& nameType) {
    if (extension.isEmpty())
        return Family::Unknown;
    if (!executableExtensionKind(extension).isEmpty())
        return Family::Program;
    return familyOf(nameType);
}

bool familiesDiffer(const Inspection& inspection) {
    const Family content = inspection.contentFamily;
    const Family name = inspection.nameFamily;
    if (content == Family::Unknown || name == Family::Unknown || content == name ||
        related(inspection.type, inspection.nameType))
        return false;
    const QString text = QStringLiteral("text/plain");
    // Text is what is left when no format is recognised, and text formats
    // contain one another (an XBM picture is C, a DTD looks like HTML):
    // text accuses no name of lying, and no text name lies about text.
    if (inspection.type == text || (isA(inspection.type, text) && isA(inspection.nameType, text)))
        return false;
    // .bat, .ps1 and .vbs are plain text to every database.
    const bool textScript = name == Family::Program && isA(inspection.type, text);
    return !textScript;
}

// Fills in the type and families from the first bytes; returns what kind of
// program the content is, empty when none.
QString judgeContent(Inspection& inspection, const QByteArray& head, const QStringList& nameTypes) {
    const ContentType content = typeByContent(head);
    inspection.contentType = content.type;
    inspection.magicType = content.magic;
    const Answer found = answer(content, nameTypes);
    inspection.type = found.type;
    inspection.basis = found.basis;
    inspection.nameType = found.nameType;
    inspection.nameFamily = familyOfName(inspection.extension, found.nameType);
    if (found.basis != Basis::Content && found.basis != Basis::ContentAndName)
        return {};
    const QString program = programKind(found.type, head);
    inspection.contentFamily = program.isEmpty() ? familyOf(found.type) : Family::Program;
    inspection.familiesDiffer = familiesDiffer(inspection);
    return program;
}

} // namespace

Inspection inspect(const QString& path) {
    return inspectNative(QFile::encodeName(path));
}

Inspection byName(const QByteArray& path) {
    Inspection inspection;
    const QString name = lastComponent(path);
    inspection.name = escapeInvisible(name);
    inspection.extension = extensionOf(name);
    return inspection;
}

Inspection inspectNative(const QByteArray& path) {
    Inspection inspection = byName(path);
    const QString name = lastComponent(path);
    const QStringList nameTypes = typesByName(name);

    const Look look = lookAt(path);
    inspection.outcome = look.outcome;
    inspection.sentence = look.sentence;
    inspection.target = look.target;
    QString program;
    if (look.outcome == Outcome::Read) {
        program = judgeContent(inspection, look.head, nameTypes);
    } else {
        const Answer byName = answer({}, nameTypes);
        inspection.nameType = byName.nameType;
        inspection.nameFamily = familyOfName(inspection.extension, byName.nameType);
        inspection.type = look.inodeType.isEmpty() ? byName.type : look.inodeType;
        inspection.basis = look.inodeType.isEmpty() ? byName.basis : Basis::Content;
    }
    addNotices(inspection, name, program);
    return inspection;
}

QString confirmedType(const Inspection& inspection) {
    const bool byContent =
        inspection.basis == Basis::Content || inspection.basis == Basis::ContentAndName;
    return byContent ? inspection.type : QString();
}

bool hasNotice(const Inspection& inspection, NoticeKind kind) {
    return std::any_of(inspection.notices.cbegin(), inspection.notices.cend(),
                       [kind](const Notice& notice) { return notice.kind == kind; });
}

} // namespace filecheck

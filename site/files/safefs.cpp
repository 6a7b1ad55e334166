#include "safefs.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace safefs {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        Fd old(m_fd);
        m_fd = other.release();
    }
    return *this;
}

Fd::~Fd() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

int Fd::release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool isPlainPath(const QByteArray& relative) {
    if (relative.isEmpty() || relative.contains('\0')) {
        return false;
    }
    for (const QByteArray& name : relative.split('/')) {
        if (name.isEmpty() || name == "." || name == "..") {
            return false;
        }
    }
    return true;
}

QByteArray parentOf(const QByteArray& relative) {
    const qsizetype slash = relative.lastIndexOf('/');
    return slash < 0 ? QByteArray() : relative.left(slash);
}

QByteArray nameOf(const QByteArray& relative) {
    return relative.mid(relative.lastIndexOf('/') + 1);
}

int statAt(int at, const QByteArray& name, struct stat* result) {
    return ::fstatat(at, name.constData(), result, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int readLinkAt(int at, const QByteArray& name, QByteArray* target) {
    QByteArray buffer(4096, Qt::Uninitialized);
    const ssize_t length = ::readlinkat(at, name.constData(), buffer.data(), buffer.size());
    if (length < 0) {
        return errno;
    }
    *target = buffer.left(length);
    return 0;
}

namespace {

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int openOne(int at, const QByteArray& name, bool create, Fd* result) {
    Fd fd(::openat(at, name.constData(), directoryFlags));
    // Another thread may make the same directory at the same time.
    if (!fd.isOpen() && errno == ENOENT && create &&
        (::mkdirat(at, name.constData(), 0777) == 0 || errno == EEXIST)) {
        fd = Fd(::openat(at, name.constData(), directoryFlags));
    }
    if (!fd.isOpen()) {
        return errno;
    }
    *result = std::move(fd);
    return 0;
}

int writeAll(int fd, const QByteArray& content) {
    for (qsizetype done = 0; done < content.size();) {
        const ssize_t written = ::write(fd, content.constData() + done, content.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : EIO;
        }
        done += written;
    }
    return 0;
}

} // namespace

int openDirectory(int root, const QByteArray& relative, bool create, Fd* result) {
    Fd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!current.isOpen()) {
        return errno;
    }
    if (!relative.isEmpty() && !isPlainPath(relative)) {
        return EINVAL;
    }
    for (const QByteArray& name : relative.isEmpty() ? QByteArrayList() : relative.split('/')) {
        Fd next;
        if (const int error = openOne(current.get(), name, create, &next)) {
            return error;
        }
        current = std::move(next);
    }
    *result = std::move(current);
    return 0;
}

int writeNewFile(int at, const QByteArray& name, const QByteArray& content, bool sync,
                 struct stat* written) {
    const int fd =
        ::openat(at, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    int error = writeAll(fd, content);
    if (error == 0 && sync && ::fsync(fd) != 0) {
        error = errno;
    }
    if (error == 0 && written != nullptr && ::fstat(fd, written) != 0) {
        error = errno;
    }
    // A failed close may be the first sign of a write that did not land.
    if (::close(fd) != 0 && error == 0 && errno != EINTR) {
        error = errno;
    }
    return error;
}

int readFile(int at, const QByteArray& name, qsizetype maxSize, QByteArray* content) {
    // Non-blocking, so a planted FIFO cannot hold the open.
    Fd fd(::openat(at, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0) {
        return errno;
    }
    if (!S_ISREG(info.st_mode)) {
        return EINVAL;
    }
    if (info.st_size > maxSize) {
        return EFBIG;
    }
    content->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return errno;
        }
        if (got == 0) {
            return 0;
        }
        content->append(buffer, got);
        if (content->size() > maxSize) {
            return EFBIG;
        }
    }
}

int listDirectory(int dir, QList<Entry>* entries) {
    const int copy = ::openat(dir, ".", directoryFlags);
    DIR* stream = copy < 0 ? nullptr : ::fdopendir(copy);
    if (stream == nullptr) {
        const int error = errno;
        if (copy >= 0) {
            ::close(copy);
        }
        return error;
    }
    entries->clear();
    int error = 0;
    errno = 0;
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        struct stat info {};
        if (name == "." || name == "..") {
            continue;
        }
        if ((error = statAt(dir, name, &info)) != 0 && error != ENOENT) {
            break;
        }
        if (error == 0) {
            entries->append({name, info});
        }
        error = 0;
        errno = 0;
    }
    error = error != 0 ? error : errno;
    ::closedir(stream);
    return error;
}

int removeTree(int at, const QByteArray& name) {
    struct stat info {};
    if (const int error = statAt(at, name, &info)) {
        return error == ENOENT ? 0 : error;
    }
    if (!S_ISDIR(info.st_mode)) {
        return ::unlinkat(at, name.constData(), 0) == 0 || errno == ENOENT ? 0 : errno;
    }
    Fd dir;
    QList<Entry> entries;
    int error = openOne(at, name, false, &dir);
    error = error != 0 ? error : listDirectory(dir.get(), &entries);
    for (const Entry& entry : entries) {
        error = error != 0 ? error : removeTree(dir.get(), entry.name);
    }
    if (error != 0) {
        return error;
    }
    return ::unlinkat(at, name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT ? 0 : errno;
}

} // namespace safefs

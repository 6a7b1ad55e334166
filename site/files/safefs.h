#pragma once

#include <QByteArray>
#include <QList>
#include <sys/stat.h>

// File operations inside one directory tree that never follow a symbolic link
// out of it: every path is walked from a directory descriptor one name at a
// time, so a link planted anywhere below stays a link and is never traversed.
// Each operation returns 0 or the errno value that stopped it.
namespace safefs {

// A descriptor, closed when it goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd) {}
    Fd(Fd&& other) noexcept
        : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release();

private:
    int m_fd = -1;
};

struct Entry {
    QByteArray name;
    struct stat info {}; // of the entry itself, a link as a link
};

// Whether the relative path is made of plain names only (no "", "." or "..").
bool isPlainPath(const QByteArray& relative);

// The parent part and the last name of a relative path ("a/b/c": "a/b", "c").
QByteArray parentOf(const QByteArray& relative);
QByteArray nameOf(const QByteArray& relative);

// The entry itself, a link as a link.
int statAt(int at, const QByteArray& name, struct stat* result);

// A link's own text.
int readLinkAt(int at, const QByteArray& name, QByteArray* target);

// The directory `relative` below `root` (the root itself when empty), making
// missing ones when asked; a link on the way is refused (ELOOP or ENOTDIR).
int openDirectory(int root, const QByteArray& relative, bool create, Fd* result);

// A new file written whole: made exclusively, every byte written, synced when
// asked, and closed with the close checked, so a full disk is an error.
// `written`, when given, gets the file's status as written.
int writeNewFile(int at, const QByteArray& name, const QByteArray& content, bool sync,
                 struct stat* written = nullptr);

// Reads a regular file of at most maxSize bytes; a link is refused.
int readFile(int at, const QByteArray& name, qsizetype maxSize, QByteArray* content);

int listDirectory(int dir, QList<Entry>* entries);

// Removes the entry and, for a directory, everything beneath it; links below
// are removed as links. A missing entry is no error.
int removeTree(int at, const QByteArray& name);

} // namespace safefs

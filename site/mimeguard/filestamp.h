#pragma once

#include <QFile>
#include <QList>
#include <QStringList>
#include <sys/stat.h>

// What a set of files is now, without reading them: a file written in place,
// replaced by another or removed gives another stamp, even within the same
// second and at the same size.
namespace filestamp {

inline QList<qint64> of(const QStringList& files) {
    QList<qint64> stamp;
    stamp.reserve(files.size() * 7);
    for (const QString& file : files) {
        struct stat status {};
        if (stat(QFile::encodeName(file).constData(), &status) != 0) {
            stamp << -1 << -1 << -1 << -1 << -1 << -1 << -1;
            continue;
        }
        stamp << qint64(status.st_dev) << qint64(status.st_ino) << qint64(status.st_size)
              << qint64(status.st_mtim.tv_sec) << qint64(status.st_mtim.tv_nsec)
              << qint64(status.st_ctim.tv_sec) << qint64(status.st_ctim.tv_nsec);
    }
    return stamp;
}

} // namespace filestamp

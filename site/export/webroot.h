#pragma once

#include "safefs.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>

// The export's own part of a web root, and nothing else in it.
//
// An export's files live in a version folder with a random name,
// DIR/.quelvix-export-<12 letters or digits>/. The public names (index.html,
// 404.html, style.css, filefound, soso, icons) are links through
// DIR/.quelvix-export-current, itself a link to the live version, so a single
// rename of that link switches a web server from one export to the next.
// DIR/.quelvix-export-manifest lists the version folders and every folder
// and file the export wrote in them, each file with its size, time and
// content hash. The manifest is only believed where the disk bears it out: a
// file is removed or replaced only while it is as the export wrote it, and a
// folder left by a killed export only when it is the very folder the export
// made. Files others put into the live export through the public names are
// linked into the next version, so they stay served.
// DIR/.quelvix-export.lock keeps a second export out while one runs.
namespace webroot {

// The public names, each a link into the live version.
extern const QByteArrayList publicNames;
// The names an export with the site's address adds.
extern const QByteArrayList publishedNames;

// Our messages are Chinese, or English where the user's locale is not
// Chinese: the caller knows which.
class Say {
public:
    explicit Say(bool chinese)
        : m_chinese(chinese) {}
    QString operator()(const char* chinese, const char* english) const {
        return QString::fromUtf8(m_chinese ? chinese : english);
    }

private:
    bool m_chinese;
};

// A file as the export wrote it: what tells it from a file someone put or
// edited in its place.
struct FileRecord {
    qint64 size = -1;
    qint64 mtime = 0; // nanoseconds since the epoch
    QByteArray hash;  // SHA-256 of the content

    static QByteArray hashOf(const QByteArray& content);
    static FileRecord of(const QByteArray& hash, const struct stat& written);
    // Whether the entry `name` in `dir` is this file still: a regular file
    // of this size, time and content.
    bool isOn(int dir, const QByteArray& name) const;
    bool operator==(const FileRecord&) const = default;
};

// What one export wrote, relative to its version folder.
struct Version {
    QSet<QByteArray> dirs;
    QHash<QByteArray, FileRecord> files;
};

struct Manifest {
    QMap<QByteArray, Version> versions;
    // Being written, or left by an export that was killed, with the folder's
    // "device:inode" once it is made.
    QMap<QByteArray, QByteArray> partials;

    // Larger is not ours: it would cost more to read than an export writes.
    static constexpr qsizetype maxSize = 16 << 20;
    QByteArray serialize() const;
    static bool parse(const QByteArray& text, Manifest* manifest);
};

// Each step returns an empty string or why it failed; after a failure,
// abandon() leaves the directory as open() found it.
class WebRoot {
public:
    WebRoot(QString path, bool chinese, bool published);
    ~WebRoot();
    WebRoot(const WebRoot&) = delete;
    WebRoot& operator=(const WebRoot&) = delete;

    // Makes the directory if need be and locks it; refuses a public name that
    // is not the export's own, and clears what an interrupted export left.
    QString open();
    // Makes the new version folder, empty.
    QString begin();
    int versionFd() const { return m_newFd.get(); }
    QString versionPath() const;
    // The live version's file at `file` when it holds exactly `content` as
    // the export wrote it, so the new version can share it, time and all;
    // with no content given, the file as the export wrote it, whatever it holds.
    bool reuse(const QByteArray& file, const FileRecord& content, FileRecord* kept) const;
    // With the new version written: keeps others' files from the live one,
    // syncs it to disk, records it and makes the missing public links.
    QString prepare(const QHash<QByteArray, FileRecord>& files);
    // Makes the new version live, then removes the previous one's own files.
    QString switchOver();
    void abandon();
    bool hasPrevious() const { return !m_live.isEmpty(); }

private:
    QString display(const QByteArray& name) const;
    QString lock();
    QString readManifest();
    QString checkNames();
    QString clearLeftovers();
    void clearPartial(const QByteArray& name, const QByteArray& identity);
    void clearTemporaries();
    QString writeManifest();
    QString carryFromLive();
    QString carryDirectory(int from, int to, const QByteArray& relative, const Version& ours);
    QString carryEntry(int from, int to, const safefs::Entry& entry, const QByteArray& path,
                       const Version& ours);
    QString makeLinks();
    QString removeVersion(const QByteArray& name, const Version& own, const QByteArray& live);
    bool removeOwn(int from, int live, const QByteArray& relative, const Version& own);
    void removePrevious();

    const QString m_path;
    const Say say;
    QByteArrayList m_names;      // the public names this export links
    QByteArrayList m_dirs;       // the public names that are folders
    QByteArrayList m_staleLinks; // the export's links to names it no longer writes
    safefs::Fd m_liveFd;
    bool m_created = false;
    safefs::Fd m_dir;
    safefs::Fd m_lock;
    Manifest m_manifest;
    Manifest m_before; // as open() left it
    bool m_hadManifest = false;
    bool m_manifestChanged = false;
    QByteArray m_live;
    QByteArray m_new;
    safefs::Fd m_newFd;
    Version m_newVersion;
    QByteArrayList m_madeLinks;
    bool m_switched = false;
};

} // namespace webroot

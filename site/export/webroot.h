#pragma once

#include "safefs.h"

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
// and file the export wrote in them; only those are ever removed. Files others
// put into the live export through the public names are linked into the next
// version, so they stay served. DIR/.quelvix-export.lock keeps a second export
// out while one runs.
namespace webroot {

// The public names, each a link into the live version.
extern const QByteArrayList publicNames;

// What one export wrote, relative to its version folder.
struct Version {
    QSet<QByteArray> dirs;
    QSet<QByteArray> files;
};

struct Manifest {
    QMap<QByteArray, Version> versions;
    QSet<QByteArray> partials; // being written, or left by an export that was killed

    QByteArray serialize() const;
    static bool parse(const QByteArray& text, Manifest* manifest);
};

// Each step returns an empty string or why it failed; after a failure,
// abandon() leaves the directory as open() found it.
class WebRoot {
public:
    explicit WebRoot(QString path);
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
    // With the new version written: keeps others' files from the live one,
    // syncs it to disk, records it and makes the missing public links.
    QString prepare(const QSet<QByteArray>& files);
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
    QString writeManifest();
    QString carryFromLive();
    QString carryDirectory(int from, int to, const QByteArray& relative, const Version& ours);
    QString carryEntry(int from, int to, const safefs::Entry& entry, const QByteArray& path,
                       const Version& ours);
    QString makeLinks();
    QString removeVersion(const QByteArray& name, const Version& own);
    void removePrevious();

    const QString m_path;
    bool m_created = false;
    safefs::Fd m_dir;
    safefs::Fd m_lock;
    bool m_lockCreated = false;
    Manifest m_manifest;
    Manifest m_before; // as open() left it
    bool m_hadManifest = false;
    bool m_manifestChanged = false;
    QByteArray m_live;
    QByteArray m_new;
    safefs::Fd m_newFd;
    Version m_newVersion;
    Version m_carried; // others' files and folders linked into the new version
    QByteArrayList m_madeLinks;
    bool m_switched = false;
};

} // namespace webroot

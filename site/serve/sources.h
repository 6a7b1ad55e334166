#pragma once

#include "catalog.h"
#include "extensions.h"
#include "icons.h"
#include "installed.h"
#include "knowledge.h"
#include "pagecache.h"
#include "words.h"

#include <QMimeDatabase>
#include <QMutex>
#include <memory>
#include <thread>
#include <vector>

class Watcher;
namespace mimedirs {
class DataDirs;
}

// Everything the site's pages are worked out from, and everything kept of
// it: the MIME database, GIO's programs, the software catalog, the icon
// themes, the pages themselves. One owner, so that one change drops all
// that depends on it at once, and nothing of it outlives the site.
class Sources {
public:
    // How a site is set up, the one type for the site and its sources: the
    // sources read what they are made from and whether to keep and watch it,
    // the site whom it answers.
    struct Options {
        int port = 0;       // only requests addressed to it are answered
        QString catalogDir; // empty: the system's software catalog
        bool cache = true;  // keep whole pages until their sources change
        bool watch = true;  // notice those changes (tests of pages alone need not)
        // A public site shows only what does not describe this machine, to anyone
        // under any host name.
        bool isPublic = false;
        // The data directories as the MIME guard keeps them, checked before
        // the databases are read; none: read as they are, and not watched.
        mimedirs::DataDirs* dataDirs = nullptr;
    };

    explicit Sources(const Options& options);
    ~Sources();
    Sources(const Sources&) = delete;
    Sources& operator=(const Sources&) = delete;

    // The catalog as loaded last; a reload replaces it without holding up a
    // request that has the old one.
    std::shared_ptr<const catalog::Catalog> catalog() const;
    knowledge::Knowledge& knowledge() { return m_knowledge; }
    words::Index& words() { return m_words; }
    const icons::Themes& icons() const { return m_icons; }
    PageCache& pages() { return m_pages; }

    // Reads what any first lookup needs on threads of its own, so that the
    // first request, which comes as soon as the site is up, finds most of it
    // done: the extension index, the icon themes and GIO's programs.
    void warmUp();
    // The MIME caches the site reads from, for the date of its facts; none
    // where the site was made without its data folders.
    QStringList mimeCacheFiles() const;

private:
    void forget(const char* why, PageCache::Clock::duration settling = {});
    void reloadCatalog();

    const QString m_catalogDir;
    const QMimeDatabase m_mime;
    mutable QMutex m_catalogLock;
    std::shared_ptr<const catalog::Catalog> m_catalog;
    icons::Themes m_icons;
    extensions::Index m_extensions{m_mime};
    words::Index m_words{m_mime, m_extensions};
    installed::Programs m_installed{m_icons};
    distribution::Installed m_packages;
    knowledge::Knowledge m_knowledge{{m_mime, m_extensions, m_installed, m_packages, m_icons}};
    PageCache m_pages;
    mimedirs::DataDirs* const m_dataDirs;
    std::vector<std::thread> m_warming;
    std::unique_ptr<Watcher> m_watcher; // last: it calls on everything above
};

#include "sources.h"

#include "mimedirs.h"
#include "mimesettling.h"
#include "watcher.h"

#include <gio/gio.h>

Sources::Sources(const Options& options)
    : m_catalogDir(options.catalogDir)
    , m_catalog(catalog::Catalog::load(options.catalogDir))
    , m_pages(options.cache)
    , m_dataDirs(options.dataDirs) {
    if (!options.watch || !m_dataDirs) {
        return;
    }
    m_watcher = std::make_unique<Watcher>(
        *m_dataDirs,
        Watcher::Callbacks{.programsChanged = [this] { forget("已装程序有变"); },
                           .mimeChanged = [this](const char* why) { forget(why, mimeSettling); },
                           .catalogChanged =
                               [this] {
                                   reloadCatalog();
                               }},
        [this] { return catalog()->files(); });
}

// The watcher stops before what it calls on goes.
Sources::~Sources() {
    m_watcher.reset();
    for (std::thread& warming : m_warming) {
        warming.join();
    }
}

// Each part waits on a lock of its own (the MIME database's, GIO's, the
// file system), so they go on side by side.
void Sources::warmUp() {
    m_warming.emplace_back([this] {
        if (m_dataDirs) {
            m_dataDirs->beforeReading();
        }
        m_extensions.all();
    });
    m_warming.emplace_back([this] {
        m_icons.file(QStringLiteral("text-x-generic"));
        g_list_free_full(g_app_info_get_all(), g_object_unref);
    });
}

std::shared_ptr<const catalog::Catalog> Sources::catalog() const {
    const QMutexLocker locker(&m_catalogLock);
    return m_catalog;
}

// Whatever changed, the types, the programs and the icon themes are read
// again: a package brings all three at once.
void Sources::forget(const char* why, PageCache::Clock::duration settling) {
    m_extensions.forget();
    m_words.forget();
    m_icons.forget();
    m_installed.forget();
    m_knowledge.forget();
    catalog()->forgetRankings();
    m_pages.invalidate(why, settling);
}

// Loaded aside while the old catalog keeps serving, so no request waits for it.
void Sources::reloadCatalog() {
    std::shared_ptr<const catalog::Catalog> fresh =
        catalog::Catalog::load(m_catalogDir, catalog::Catalog::Reading::Whole);
    {
        const QMutexLocker locker(&m_catalogLock);
        m_catalog.swap(fresh);
    }
    m_pages.invalidate("软件目录已重新读入");
}

QStringList Sources::mimeCacheFiles() const {
    return m_dataDirs ? m_dataDirs->cacheFiles() : QStringList();
}

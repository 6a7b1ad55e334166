#include "pagecache.h"

std::optional<http::Response> PageCache::find(const QString& key) const {
    const QMutexLocker locker(&m_lock);
    const auto found = m_pages.constFind(key);
    if (found == m_pages.cend()) {
        return std::nullopt;
    }
    return *found;
}

void PageCache::store(const QString& key, quint64 generation, const http::Response& response) {
    if (!m_enabled) {
        return;
    }
    const QMutexLocker locker(&m_lock);
    if (generation != m_generation.load() || Clock::now() < m_settledAt) {
        return;
    }
    // Any address may be asked for; past the bound the cache starts over
    // rather than grow without end.
    if (m_pages.size() >= maxEntries) {
        m_pages.clear();
    }
    m_pages.insert(key, response);
}

void PageCache::invalidate(Clock::duration settling) {
    const QMutexLocker locker(&m_lock);
    ++m_generation;
    m_pages.clear();
    m_settledAt = std::max(m_settledAt, Clock::now() + settling);
}

#include "pagecache.h"

#include "sitelog.h"

namespace {

// A byte array's allocation: its capacity and the header in front of it.
qint64 footprint(const QByteArray& bytes) {
    constexpr qint64 arrayHeader = 32;
    return bytes.capacity() > 0 ? bytes.capacity() + arrayHeader : 0;
}

qint64 footprint(const QString& text) {
    constexpr qint64 arrayHeader = 32;
    return text.capacity() > 0 ? text.capacity() * qint64(sizeof(QChar)) + arrayHeader : 0;
}

// Built pages come from converting text, whose buffer is sized for the worst
// case: three times what most pages need. Each copy kept is cut to size.
void squeeze(http::Response& response) {
    response.body.squeeze();
    for (http::Field& field : response.headers) {
        field.first.squeeze();
        field.second.squeeze();
    }
    response.headers.squeeze();
    for (QByteArray& icon : response.icons) {
        icon.squeeze();
    }
    response.icons.squeeze();
    response.description.squeeze();
}

qint64 cost(const QByteArray& key, const http::Response& response) {
    constexpr qint64 entry = 96; // the hash node, the list's header
    qint64 total = entry + footprint(key) + footprint(response.body) +
                   footprint(response.description) +
                   response.headers.capacity() * qint64(sizeof(http::Field));
    for (const http::Field& field : response.headers) {
        total += footprint(field.first) + footprint(field.second);
    }
    total += response.icons.capacity() * qint64(sizeof(QByteArray));
    for (const QByteArray& icon : response.icons) {
        total += footprint(icon);
    }
    return total;
}

} // namespace

std::optional<http::Response> PageCache::find(const QByteArray& key) const {
    const QMutexLocker locker(&m_lock);
    const auto found = m_pages.constFind(key);
    if (found == m_pages.cend()) {
        return std::nullopt;
    }
    return *found;
}

void PageCache::store(const QByteArray& key, quint64 generation, http::Response response) {
    if (!m_enabled) {
        return;
    }
    QByteArray ownKey = key;
    ownKey.squeeze();
    squeeze(response);
    const qint64 added = cost(ownKey, response);
    const QMutexLocker locker(&m_lock);
    if (generation != m_generation.load() || Clock::now() < m_settledAt || added > m_bound ||
        m_pages.contains(ownKey)) {
        return;
    }
    // Any address may be asked for; past the bound the cache starts over
    // rather than grow without end.
    if (m_bytes + added > m_bound) {
        qCInfo(lcCache, "缓存的页面已达 %lld 字节的上限，全部丢弃重来", qlonglong(m_bound));
        m_pages.clear();
        m_bytes = 0;
    }
    m_pages.insert(ownKey, std::move(response));
    m_bytes += added;
}

void PageCache::invalidate(const char* why, Clock::duration settling) {
    qCInfo(lcCache, "已丢弃缓存的页面：%s", why);
    const QMutexLocker locker(&m_lock);
    ++m_generation;
    m_pages.clear();
    m_bytes = 0;
    m_settledAt = std::max(m_settledAt, Clock::now() + settling);
}

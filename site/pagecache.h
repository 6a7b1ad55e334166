#pragma once

#include "http.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <atomic>
#include <chrono>
#include <optional>

// Whole answers kept per address, so a lookup costs what a static file does.
// Whatever a page was built from may change under it; the watcher says when,
// and everything kept is dropped.
class PageCache {
public:
    using Clock = std::chrono::steady_clock;

    explicit PageCache(bool enabled)
        : m_enabled(enabled) {}

    // What to pass to store(): taken before the page is built, so a page
    // built from what was current before a change is not kept after it.
    quint64 generation() const { return m_generation.load(); }

    std::optional<http::Response> find(const QString& key) const;
    void store(const QString& key, quint64 generation, const http::Response& response);

    // Drops everything; with a settling time, pages built within it are not
    // kept either, for sources that are read again only now and then.
    void invalidate(Clock::duration settling = {});

private:
    static constexpr qsizetype maxEntries = 4096;
    const bool m_enabled;
    std::atomic<quint64> m_generation{0};
    mutable QMutex m_lock;
    QHash<QString, http::Response> m_pages;
    Clock::time_point m_settledAt{};
};

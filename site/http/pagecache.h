#pragma once

#include "http.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <atomic>
#include <chrono>
#include <optional>

// Whole answers kept per address, so a lookup costs what a static file does.
// Whatever a page was built from may change under it; the watcher says when,
// and everything kept is dropped.
class PageCache {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr qint64 defaultBound = 64 * 1024 * 1024;

    explicit PageCache(bool enabled, qint64 boundBytes = defaultBound)
        : m_enabled(enabled)
        , m_bound(boundBytes) {}

    // What to pass to store(): taken before the page is built, so a page
    // built from what was current before a change is not kept after it.
    quint64 generation() const { return m_generation.load(); }

    std::optional<http::Response> find(const QByteArray& key) const;
    // Keeps its own copy, each byte array no larger than its contents.
    void store(const QByteArray& key, quint64 generation, http::Response response);

    // Drops everything, logging why; with a settling time, pages built within
    // it are not kept either, for sources that are read again only now and then.
    void invalidate(const char* why, Clock::duration settling = {});

private:
    const bool m_enabled;
    const qint64 m_bound;
    std::atomic<quint64> m_generation{0};
    mutable QMutex m_lock;
    QHash<QByteArray, http::Response> m_pages;
    qint64 m_bytes = 0; // what everything kept takes in memory, near enough
    Clock::time_point m_settledAt{};
};

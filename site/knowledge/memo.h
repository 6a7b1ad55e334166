#pragma once

#include "mimesettling.h"

#include <QHash>
#include <QReadWriteLock>
#include <chrono>
#include <future>
#include <optional>

// Answers kept by key until what they were worked out from changes: the
// site's one memo, for small answers per type and for whole tables alike.
//
// Found under a lock readers share, so threads building pages do not wait on
// each other; worked out outside it, once per key at a time: a thread asking
// for an answer another is working out waits for that one rather than doing
// the work twice (a whole table is costly). One worked out across a change is
// not kept. After a change QMimeDatabase may still answer from its old files
// for a while (see mimesettling.h), so what is worked out in that while is
// kept only until it is over, then worked out once more.
template <typename Key, typename T> class Memo {
public:
    template <typename Work> T get(const Key& key, Work work) {
        const Clock::time_point now = Clock::now();
        {
            const QReadLocker locker(&m_lock);
            if (const auto found = m_kept.constFind(key);
                found != m_kept.cend() && fresh(*found, now)) {
                return found->value;
            }
        }
        std::promise<T> promise;
        std::optional<std::shared_future<T>> pending;
        quint64 generation = 0;
        {
            const QWriteLocker locker(&m_lock);
            if (const auto found = m_kept.constFind(key);
                found != m_kept.cend() && fresh(*found, now)) {
                return found->value;
            }
            generation = m_generation;
            if (const auto working = m_working.constFind(key); working != m_working.cend()) {
                pending = working->answer;
            } else {
                m_working.insert(key, {promise.get_future().share(), generation});
            }
        }
        if (pending) {
            return pending->get();
        }
        T value = work(key);
        {
            // An answer replaced is let go after the lock: freeing a whole
            // table under it would hold up every reader.
            std::optional<Kept> replaced;
            const QWriteLocker locker(&m_lock);
            if (generation == m_generation) {
                m_working.remove(key);
                if (const auto found = m_kept.find(key); found != m_kept.end()) {
                    replaced = std::move(*found);
                    *found = {value, now};
                } else {
                    m_kept.insert(key, {value, now});
                }
            }
        }
        promise.set_value(value);
        return value;
    }

    void forget() {
        const QWriteLocker locker(&m_lock);
        ++m_generation;
        m_changedAt = Clock::now();
        m_kept.clear();
        // What is being worked out now is from before the change: whoever
        // asks from here on works it out afresh.
        m_working.clear();
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Working {
        std::shared_future<T> answer;
        quint64 generation;
    };
    struct Kept {
        T value;
        Clock::time_point workedOutAt;
    };

    // Worked out while the database settled, and it has settled since.
    bool fresh(const Kept& kept, Clock::time_point now) const {
        const Clock::time_point settled = m_changedAt + mimeSettling;
        return kept.workedOutAt >= settled || now < settled;
    }

    QReadWriteLock m_lock;
    QHash<Key, Kept> m_kept;
    QHash<Key, Working> m_working;
    quint64 m_generation = 0;
    Clock::time_point m_changedAt = Clock::time_point::min();
};

#pragma once

#include "mimesettling.h"

#include <QHash>
#include <QReadWriteLock>
#include <chrono>

// Answers kept by key until what they were worked out from changes. They are
// worked out outside the lock, and found under a lock readers share, so
// threads building pages do not wait on each other (two may work out the
// same one; either answer is right). One worked out across a change is not
// kept, nor one worked out while the MIME database may still answer from its
// old files (see mimesettling.h).
template <typename Key, typename T> class Memo {
public:
    template <typename Work> T get(const Key& key, Work work) {
        quint64 generation = 0;
        Clock::time_point changedAt;
        {
            const QReadLocker locker(&m_lock);
            const auto found = m_kept.constFind(key);
            if (found != m_kept.cend()) {
                return *found;
            }
            generation = m_generation;
            changedAt = m_changedAt;
        }
        T value = work(key);
        if (Clock::now() >= changedAt + mimeSettling) {
            const QWriteLocker locker(&m_lock);
            if (generation == m_generation) {
                // The first answer kept stays: replacing it would free, under
                // the lock, memory another thread took.
                const auto kept = m_kept.constFind(key);
                if (kept != m_kept.cend()) {
                    return *kept;
                }
                m_kept.insert(key, value);
            }
        }
        return value;
    }

    void forget() {
        const QWriteLocker locker(&m_lock);
        ++m_generation;
        m_changedAt = Clock::now();
        m_kept.clear();
    }

private:
    using Clock = std::chrono::steady_clock;
    QReadWriteLock m_lock;
    QHash<Key, T> m_kept;
    quint64 m_generation = 0;
    Clock::time_point m_changedAt = Clock::time_point::min();
};

#pragma once

#include "mimesettling.h"

#include <QMutex>
#include <chrono>
#include <functional>
#include <memory>

// Something built from the MIME database and kept until it changes. After a
// change QMimeDatabase may still answer from its old files for a while (it
// looks at them again at most every five seconds), so what is built in that
// while is built once more when it is over.
template <typename T> class Remembered {
public:
    std::shared_ptr<const T> get(const std::function<T()>& build) {
        const QMutexLocker locker(&m_lock);
        const auto now = std::chrono::steady_clock::now();
        const bool settled = now >= m_changedAt + mimeSettling;
        if (!m_value || (settled && m_builtAt < m_changedAt + mimeSettling)) {
            m_value = std::make_shared<const T>(build());
            m_builtAt = now;
        }
        return m_value;
    }

    void forget() {
        const QMutexLocker locker(&m_lock);
        m_value.reset();
        m_changedAt = std::chrono::steady_clock::now();
    }

private:
    QMutex m_lock;
    std::shared_ptr<const T> m_value;
    std::chrono::steady_clock::time_point m_builtAt;
    std::chrono::steady_clock::time_point m_changedAt;
};

#pragma once

#include <QTest>
#include <QTimer>

// Runs every event posted so far, and so whatever they would start: what has
// not happened by then was not on its way.
inline void runPostedEvents() {
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    QTRY_VERIFY(ran);
}

#include "apppages.h"
#include "filelookup.h"

#include <QObject>

namespace filelookup {

namespace {

// Telling a file by its content needs the Linux build's detection.
Shown cannotTell() {
    const apppages::Blocks& b = apppages::blocks();
    Shown shown;
    shown.page = apppages::document(
        apppages::Value::fill([&](QByteArray& into) { b.cannotTellTitle.render(into); }),
        apppages::Value::fill([&](QByteArray& into) { b.cannotTell.render(into); }));
    return shown;
}

} // namespace

Shown whileReading(const QList<QByteArray>& paths) {
    return paths.isEmpty() ? Shown{} : cannotTell();
}

void forFiles(const QString&, const QList<QByteArray>& paths, QObject*,
              std::function<void(const Shown&)> then, Bounds) {
    if (!paths.isEmpty()) {
        then(cannotTell());
    }
}

} // namespace filelookup

#include "distribution.h"

#include "filestamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <functional>
#include <memory>

namespace distribution {
namespace {

// A stanza's values of the fields asked for, in their order; empty where
// the stanza has none.
using Stanza = QByteArrayList;

QString listsDirectory() {
    const QString chosen = qEnvironmentVariable("QUELVIX_APT_LISTS");
    return chosen.isEmpty() ? QStringLiteral("/var/lib/apt/lists") : chosen;
}

QString statusFile() {
    const QString chosen = qEnvironmentVariable("QUELVIX_DPKG_STATUS");
    return chosen.isEmpty() ? QStringLiteral("/var/lib/dpkg/status") : chosen;
}

// Fills the buffer from the device, waiting for a process's output to come;
// false once everything was read.
bool readMore(QIODevice& in, QByteArray* buffer) {
    constexpr qint64 block = 1 << 20;
    while (in.bytesAvailable() == 0 && in.waitForReadyRead(30000)) {
    }
    const QByteArray more = in.read(block);
    *buffer += more;
    return !more.isEmpty();
}

void takeLine(QByteArrayView line, const QByteArrayList& fields, Stanza* stanza,
              const std::function<void(const Stanza&)>& take) {
    if (line.trimmed().isEmpty()) {
        if (std::any_of(stanza->begin(), stanza->end(), std::not_fn(&QByteArray::isEmpty))) {
            take(*stanza);
        }
        *stanza = Stanza(fields.size());
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || line[0] == ' ' || line[0] == '\t') {
        return;
    }
    const qsizetype field = fields.indexOf(line.first(colon));
    if (field >= 0) {
        (*stanza)[field] = line.sliced(colon + 1).trimmed().toByteArray();
    }
}

// Each stanza with the fields asked for; continuation lines are left out.
// The lists run to tens of megabytes, so they are read in large blocks.
void readStanzas(QIODevice& in, const QByteArrayList& fields,
                 const std::function<void(const Stanza&)>& take) {
    Stanza stanza(fields.size());
    QByteArray buffer;
    bool more = true;
    while (more) {
        more = readMore(in, &buffer);
        qsizetype start = 0;
        for (qsizetype end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n', start)) {
            takeLine(QByteArrayView(buffer).sliced(start, end - start), fields, &stanza, take);
            start = end + 1;
        }
        buffer.remove(0, start);
    }
    takeLine(buffer, fields, &stanza, take);
    takeLine({}, fields, &stanza, take);
}

// apt may keep its lists compressed; its own helper reads every kind it writes.
void readList(const QString& path, const QByteArrayList& fields,
              const std::function<void(const Stanza&)>& take) {
    if (path.endsWith(QLatin1String("_Packages"))) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            readStanzas(file, fields, take);
        }
        return;
    }
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QStringLiteral("/usr/lib/apt/apt-helper"), {QStringLiteral("cat-file"), path});
    if (helper.waitForStarted()) {
        readStanzas(helper, fields, take);
        helper.waitForFinished();
    }
}

// "a (>= 1), b | c [amd64]" -> a, b, c
QStringList relations(const QByteArray& field) {
    static const QRegularExpression separators(QStringLiteral("[,|]"));
    QStringList names;
    for (const QString& part : QString::fromUtf8(field).split(separators, Qt::SkipEmptyParts)) {
        const QString name = part.trimmed().section(QLatin1Char(' '), 0, 0).section(':', 0, 0);
        if (!name.isEmpty()) {
            names << name;
        }
    }
    return names;
}

enum Field { Package, Section, InstalledSize, Depends, Recommends };
const QByteArrayList packageFields = {"Package", "Section", "Installed-Size", "Depends",
                                      "Recommends"};

struct Graph {
    QHash<QByteArray, QByteArray> followed; // package -> its relations, as written
    QStringList desktopTasks;
};

// Tasks and metapackages pull in programs. Some metapackages live outside
// their section (xfce4-goodies); they are known by installing next to nothing.
bool pullsIn(const Stanza& stanza) {
    const QByteArray& section = stanza[Section];
    if (section == "tasks" || section == "metapackages") {
        return true;
    }
    bool isNumber = false;
    const qlonglong size = stanza[InstalledSize].toLongLong(&isNumber);
    return isNumber && size <= 100;
}

// task-desktop itself only offers each desktop as an alternative.
bool isDesktopTask(const QByteArray& package, const Stanza& stanza) {
    return stanza[Section] == "tasks" && package.startsWith("task-") &&
           package.endsWith("-desktop") && package != "task-desktop";
}

Graph readGraph(const QStringList& lists) {
    Graph graph;
    for (const QString& list : lists) {
        readList(list, packageFields, [&](const Stanza& stanza) {
            const QByteArray& package = stanza[Package];
            if (package.isEmpty() || !pullsIn(stanza)) {
                return;
            }
            QByteArray& followed = graph.followed[package];
            followed += ',' + stanza[Depends] + ',' + stanza[Recommends];
            const QString name = QString::fromUtf8(package);
            if (isDesktopTask(package, stanza) && !graph.desktopTasks.contains(name)) {
                graph.desktopTasks << name;
            }
        });
    }
    return graph;
}

// Everything a desktop task reaches through tasks' and metapackages'
// relations; another task is a desktop of its own, not followed.
QSet<QString> reachedFrom(const QString& task, const Graph& graph) {
    QSet<QString> reached;
    QStringList pending{task};
    while (!pending.isEmpty()) {
        const QString package = pending.takeLast();
        if (reached.contains(package)) {
            continue;
        }
        reached.insert(package);
        if (package == task || !package.startsWith(QLatin1String("task-"))) {
            pending += relations(graph.followed.value(package.toUtf8()));
        }
    }
    return reached;
}

QHash<QString, int> countChoices(const QStringList& lists) {
    const Graph graph = readGraph(lists);
    QHash<QString, int> choices;
    for (const QString& task : graph.desktopTasks) {
        for (const QString& package : reachedFrom(task, graph)) {
            ++choices[package];
        }
    }
    return choices;
}

QSet<QString> readInstalled(const QString& path) {
    QSet<QString> packages;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        readStanzas(file, {"Package", "Status"}, [&](const Stanza& stanza) {
            if (stanza[1].endsWith(" installed")) {
                packages.insert(QString::fromUtf8(stanza[0]));
            }
        });
    }
    return packages;
}

} // namespace

QStringList packageLists() {
    QStringList lists;
    const QDir dir(listsDirectory());
    for (const QString& name : dir.entryList({QStringLiteral("*_Packages*")}, QDir::Files)) {
        if (!name.endsWith(QLatin1String(".diff_Index"))) {
            lists << dir.filePath(name);
        }
    }
    return lists;
}

QSet<QString> listedPackages() {
    QSet<QString> listed;
    for (const QString& list : packageLists()) {
        readList(list, {"Package"},
                 [&](const Stanza& stanza) { listed.insert(QString::fromUtf8(stanza[0])); });
    }
    return listed;
}

// Counted once per catalog load: the catalog is read again when the lists
// change, and only then.
QHash<QString, int> desktopChoices() {
    return countChoices(packageLists());
}

std::shared_ptr<const QSet<QString>> Installed::packages() {
    const QString path = statusFile();
    const QList<qint64> now = filestamp::of({path});
    const QMutexLocker locker(&m_lock);
    if (now != m_stamp || !m_packages) {
        m_packages = std::make_shared<const QSet<QString>>(readInstalled(path));
        m_stamp = now;
    }
    return m_packages;
}

} // namespace distribution

#include "filelookup.h"

#include "applog.h"
#include "apppages.h"
#include "filecheck.h"
#include "formatname.h"
#include "lookup.h"
#include "termination.h"

#include <QMimeDatabase>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <mutex>
#include <optional>
#include <vector>

namespace filelookup {
namespace {

using apppages::Value;
using filecheck::Inspection;
using Clock = std::chrono::steady_clock;
using Page = QByteArray;

// Each file costs a few reads; a selection of thousands would hold up the
// window for nothing a list in the pane could show.
constexpr qsizetype maxFiles = 500;
constexpr qsizetype namesPerLine = 3;

// A block without values, as markup for another's value.
Page rendered(const apppages::Block& block) {
    Page page;
    block.render(page);
    return page;
}

// A file the content of which was read; anything else has a sentence.
bool isTold(const Inspection& inspection) {
    return inspection.sentence.isEmpty() &&
           !(inspection.type.isEmpty() && inspection.extension.isEmpty());
}

QString whyNotTold(const Inspection& inspection) {
    return inspection.sentence.isEmpty()
               ? QStringLiteral("从内容看不出这个文件是什么类型，它的名字也没有扩展名。")
               : inspection.sentence;
}

QStringList noticeCodes(const Inspection& inspection) {
    QStringList codes;
    for (const filecheck::Notice& notice : inspection.notices) {
        codes << filecheck::noticeCode(notice.kind);
    }
    return codes;
}

// The type goes only where the content bears it out: a name alone makes
// no PDF of random bytes.
QUrl addressOf(const QString& site, const Inspection& inspection) {
    return lookup::fileAddress(site, inspection.extension, filecheck::confirmedType(inspection),
                               noticeCodes(inspection));
}

QString onePage(const Inspection& inspection) {
    const apppages::Blocks& b = apppages::blocks();
    return apppages::document(Value::html(rendered(b.untoldTitle)), Value::fill([&](Page& into) {
                                  b.untold.render(into, {inspection.name, whyNotTold(inspection)});
                              }));
}

// Files that went one way: a type, or the same sentence.
struct Group {
    QString key;
    QList<const Inspection*> files;
};

QString groupKey(const Inspection& inspection) {
    if (!isTold(inspection)) {
        return QStringLiteral("s:") + whyNotTold(inspection);
    }
    const QString confirmed = filecheck::confirmedType(inspection);
    return confirmed.isEmpty() ? QStringLiteral("n:") + inspection.type
                               : QStringLiteral("t:") + confirmed;
}

QList<Group> grouped(const QList<Inspection>& inspections) {
    QList<Group> groups;
    for (const Inspection& inspection : inspections) {
        const QString key = groupKey(inspection);
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group& g) { return g.key == key; });
        if (group == groups.end()) {
            groups.append({key, {}});
            group = groups.end() - 1;
        }
        group->files.append(&inspection);
    }
    return groups;
}

void names(Page& page, const Group& group) {
    const apppages::Blocks& b = apppages::blocks();
    const auto list = [&](Page& into) {
        for (qsizetype i = 0; i < group.files.size() && i < namesPerLine; ++i) {
            if (i > 0) {
                b.nameSeparator.render(into);
            }
            b.name.render(into, {group.files[i]->name});
        }
    };
    b.names.render(page, {group.files.size(), Value::fill(list),
                          group.files.size() > namesPerLine ? Value::html(rendered(b.moreNames))
                                                            : Value::html({})});
}

// The file whose page the line links to: one whose name misleads, if any,
// so its warning is not lost among the others'.
const Inspection& linked(const Group& group) {
    for (const Inspection* inspection : group.files) {
        if (!inspection->notices.isEmpty()) {
            return *inspection;
        }
    }
    return *group.files.first();
}

// As the site's pages name a type.
QString describe(const QString& type) {
    const QMimeType known = QMimeDatabase().mimeTypeForName(type);
    const QString name = known.isValid() ? filecheck::formatName(known) : QString();
    return name.isEmpty() ? type : name;
}

// What a line says the files are: what the content bears out, or what only
// the name claims.
QString describe(const Inspection& inspection) {
    const QString confirmed = filecheck::confirmedType(inspection);
    if (!confirmed.isEmpty()) {
        return describe(confirmed);
    }
    if (inspection.type.isEmpty()) {
        return QStringLiteral("从内容看不出类型");
    }
    // A blank between a Chinese character and a Latin word, as typeset.
    const QString claimed = describe(inspection.type);
    const bool latin = !claimed.isEmpty() && claimed.front().unicode() < 0x80;
    return QStringLiteral("名字说是%1%2，内容证实不了")
        .arg(latin ? QStringLiteral(" ") : QString(), claimed);
}

bool misleads(const Inspection& inspection) {
    return std::any_of(inspection.notices.begin(), inspection.notices.end(),
                       [](const filecheck::Notice& notice) {
                           return notice.kind != filecheck::NoticeKind::Unconfirmed;
                       });
}

void line(Page& page, const QString& site, const Group& group) {
    const apppages::Blocks& b = apppages::blocks();
    const Inspection& first = linked(group);
    const auto fileNames = [&](Page& into) {
        names(into, group);
    };
    if (!isTold(first)) {
        b.untoldItem.render(page, {whyNotTold(first), Value::fill(fileNames)});
        return;
    }
    const QUrl address = addressOf(site, first);
    const QString target =
        address.path(QUrl::FullyEncoded) + u'?' + address.query(QUrl::FullyEncoded);
    const bool warned = std::any_of(group.files.begin(), group.files.end(),
                                    [](const Inspection* i) { return misleads(*i); });
    b.toldItem.render(page, {target, describe(first), filecheck::confirmedType(first),
                             warned ? Value::html(rendered(b.misleads)) : Value::html({}),
                             Value::fill(fileNames)});
}

QString listPage(const QString& site, const QList<Inspection>& inspections, qsizetype given) {
    const apppages::Blocks& b = apppages::blocks();
    const QList<Group> groups = grouped(inspections);
    const auto items = [&](Page& into) {
        for (const Group& group : groups) {
            line(into, site, group);
        }
    };
    const auto left = [&](Page& into) {
        if (given > inspections.size()) {
            b.left.render(into, {inspections.size(), given - inspections.size()});
        }
    };
    return apppages::document(Value::html(rendered(b.listTitle)), Value::fill([&](Page& into) {
                                  b.list.render(into, {inspections.size(), groups.size(),
                                                       Value::fill(items), Value::fill(left)});
                              }));
}

Shown shownFor(const QString& site, const QList<Inspection>& inspections, qsizetype given,
               const QByteArray& firstPath) {
    if (inspections.isEmpty()) {
        return {};
    }
    Shown shown;
    shown.extension = inspections.first().extension;
    if (inspections.size() > 1) {
        shown.page = listPage(site, inspections, given);
        shown.pageLinksToSite = true;
    } else if (isTold(inspections.first())) {
        const Inspection& only = inspections.first();
        shown.address = addressOf(site, only);
        shown.file = {firstPath,
                      filecheck::hasNotice(only, filecheck::NoticeKind::ProgramInDisguise)
                          ? describe(only.type)
                          : QString()};
    } else {
        shown.page = onePage(inspections.first());
    }
    return shown;
}

QString seconds(std::chrono::milliseconds time) {
    return QString::number(double(time.count()) / 1000.0);
}

Inspection untold(const QByteArray& path, const QString& sentence) {
    qCWarning(lcAppFiles, "%s: %s", path.constData(), qPrintable(sentence));
    Inspection inspection = filecheck::byName(path);
    inspection.outcome = filecheck::Outcome::Unreadable;
    inspection.sentence = sentence;
    return inspection;
}

const QString readingName = QStringLiteral("filelookup reading");

// What the reading threads and the window share. The paths never change;
// the rest is under the mutex.
struct Batch {
    QList<QByteArray> paths;
    std::mutex mutex;
    std::vector<std::optional<Inspection>> found;
    qsizetype next = 0;     // the next file a thread takes
    qsizetype current = -1; // the file the live thread is on, since when
    Clock::time_point since;
    int lane = 0;            // the live thread; the others were given up
    QObject* wake = nullptr; // the window's side, while it waits
};

void tell(Batch& batch) {
    if (batch.wake) {
        QMetaObject::invokeMethod(batch.wake, "review", Qt::QueuedConnection);
    }
}

// One thread's work: the next file, and the next, until the files run out
// or the thread was given up on a file that did not answer in time.
void readFiles(const std::shared_ptr<Batch>& batch, int lane) {
    for (;;) {
        qsizetype at = 0;
        {
            const std::lock_guard lock(batch->mutex);
            if (lane != batch->lane || !batch->wake || batch->next >= batch->paths.size()) {
                return;
            }
            at = batch->next++;
            batch->current = at;
            batch->since = Clock::now();
            tell(*batch); // its time starts
        }
        Inspection inspection = filecheck::inspectNative(batch->paths[at]);
        const std::lock_guard lock(batch->mutex);
        if (!batch->found[size_t(at)]) {
            batch->found[size_t(at)] = std::move(inspection);
        }
        tell(*batch);
    }
}

// The window's side of one reading: it keeps time, gives up on a file that
// takes too long and hands over what was found.
class Reading final : public QObject {
    Q_OBJECT

public:
    Reading(QString site, QList<QByteArray> paths, qsizetype given,
            std::function<void(const Shown&)> then, Bounds bounds, QObject* receiver)
        : QObject(receiver)
        , m_site(std::move(site))
        , m_given(given)
        , m_then(std::move(then))
        , m_bounds(bounds)
        , m_deadline(Clock::now() + bounds.overall)
        , m_batch(std::make_shared<Batch>()) {
        setObjectName(readingName);
        m_batch->paths = std::move(paths);
        m_batch->found.resize(size_t(m_batch->paths.size()));
        m_batch->wake = this;
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Reading::review);
    }

    ~Reading() override {
        const std::lock_guard lock(m_batch->mutex);
        m_batch->wake = nullptr;
    }

    // What was found is always told from the event loop, never from within
    // forFiles().
    void start() {
        startThread();
        m_timer.start(0);
    }

    Q_INVOKABLE void review() {
        if (!m_then) {
            return; // told already; a thread's word was still on its way
        }
        bool giveUp = false;
        bool done = false;
        Clock::time_point wakeAt = m_deadline;
        {
            const std::lock_guard lock(m_batch->mutex);
            auto& found = m_batch->found;
            const Clock::time_point now = Clock::now();
            const qsizetype current = m_batch->current;
            if (current >= 0 && !found[size_t(current)]) {
                const Clock::time_point due = m_batch->since + m_bounds.perFile;
                giveUp = now >= due;
                if (giveUp) {
                    found[size_t(current)] =
                        untold(m_batch->paths[current],
                               QStringLiteral(
                                   "这个文件 %1 秒内没有读出来：它所在的磁盘或网络位置没有应答。")
                                   .arg(seconds(m_bounds.perFile)));
                } else {
                    wakeAt = std::min(wakeAt, due);
                }
            }
            if (now >= m_deadline) {
                settleTheRest();
            }
            done = std::all_of(found.begin(), found.end(),
                               [](const auto& f) { return f.has_value(); });
        }
        if (done) {
            finish();
        } else if (giveUp) {
            startThread();
            review();
        } else {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now());
            m_timer.start(std::max<qint64>(wait.count(), 1));
        }
    }

private:
    void settleTheRest() {
        for (qsizetype i = 0; i < m_batch->paths.size(); ++i) {
            auto& file = m_batch->found[size_t(i)];
            if (!file) {
                file = untold(m_batch->paths[i],
                              QStringLiteral("%1 秒内没有读到这个文件：前面的文件读得太慢了。")
                                  .arg(seconds(m_bounds.overall)));
            }
        }
    }

    void startThread() {
        int lane = 0;
        {
            const std::lock_guard lock(m_batch->mutex);
            lane = ++m_batch->lane;
        }
        if (!platform::runDetached([batch = m_batch, lane] { readFiles(batch, lane); })) {
            const std::lock_guard lock(m_batch->mutex);
            for (qsizetype i = 0; i < m_batch->paths.size(); ++i) {
                auto& file = m_batch->found[size_t(i)];
                if (!file) {
                    file = untold(
                        m_batch->paths[i],
                        QStringLiteral("无法开始读取这个文件：系统不让本程序再开新的线程。"));
                }
            }
        }
    }

    void finish() {
        QList<Inspection> inspections;
        {
            const std::lock_guard lock(m_batch->mutex);
            m_batch->wake = nullptr;
            for (auto& file : m_batch->found) {
                inspections << std::move(*file);
            }
        }
        // The paths never change once reading began, so they need no lock.
        const Shown shown = shownFor(m_site, inspections, m_given, m_batch->paths.value(0));
        const auto then = std::exchange(m_then, nullptr);
        m_timer.stop();
        deleteLater();
        then(shown);
    }

    QString m_site;
    qsizetype m_given;
    std::function<void(const Shown&)> m_then;
    Bounds m_bounds;
    Clock::time_point m_deadline;
    std::shared_ptr<Batch> m_batch;
    QTimer m_timer;
};

} // namespace

Shown whileReading(const QList<QByteArray>& paths) {
    if (paths.isEmpty()) {
        return {};
    }
    Shown shown;
    shown.extension = filecheck::byName(paths.first()).extension;
    const apppages::Blocks& b = apppages::blocks();
    const auto what = [&](Page& into) {
        if (paths.size() > 1) {
            b.readingSeveral.render(into, {std::min(paths.size(), maxFiles)});
        } else {
            b.readingOne.render(into);
        }
    };
    shown.page = apppages::document(
        Value::html(rendered(b.readingTitle)),
        Value::fill([&](Page& into) { b.reading.render(into, {Value::fill(what)}); }));
    return shown;
}

void forFiles(const QString& site, const QList<QByteArray>& paths, QObject* receiver,
              std::function<void(const Shown&)> then, Bounds bounds) {
    delete receiver->findChild<Reading*>(readingName, Qt::FindDirectChildrenOnly);
    if (paths.isEmpty()) {
        return;
    }
    auto* reading =
        new Reading(site, paths.mid(0, maxFiles), paths.size(), std::move(then), bounds, receiver);
    reading->start();
}

} // namespace filelookup

#include "filelookup.moc"

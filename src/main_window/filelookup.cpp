#include "filelookup.h"

#include "filecheck.h"
#include "lookup.h"

#include <QMimeDatabase>

namespace filelookup {
namespace {

using filecheck::Inspection;

// Each file costs a few reads; a selection of thousands would hold up the
// window for nothing a list in the pane could show.
constexpr qsizetype maxFiles = 500;
constexpr qsizetype namesPerLine = 3;

QString page(const QString& title, const QString& body) {
    return QStringLiteral("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                          "<title>%1</title><style>"
                          "body{font-size:13px;margin:12px 16px;color:#222;background:#fff}"
                          "h1{font-size:15px;margin:0 0 10px}ul{padding-left:18px;margin:0}"
                          "li{margin:0 0 6px}code{font-size:12px}.muted{color:#666;font-size:12px}"
                          ".warn{color:#a40e26;font-weight:bold}"
                          "</style></head><body>%2</body></html>")
        .arg(title.toHtmlEscaped(), body);
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

QUrl addressOf(const QString& site, const Inspection& inspection) {
    return lookup::fileAddress(site, inspection.extension, inspection.type,
                               noticeCodes(inspection));
}

QString onePage(const Inspection& inspection) {
    return page(QStringLiteral("无法判断文件类型"),
                QStringLiteral("<h1>“%1”</h1><p>%2</p>")
                    .arg(inspection.name.toHtmlEscaped(), whyNotTold(inspection).toHtmlEscaped()));
}

// Files that went one way: a type, or the same sentence.
struct Group {
    QString key;
    QList<const Inspection*> files;
};

QString groupKey(const Inspection& inspection) {
    return isTold(inspection) ? QStringLiteral("t:") + inspection.type
                              : QStringLiteral("s:") + whyNotTold(inspection);
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

QString names(const Group& group) {
    QStringList shown;
    for (qsizetype i = 0; i < group.files.size() && i < namesPerLine; ++i) {
        shown << QStringLiteral("“%1”").arg(group.files[i]->name.toHtmlEscaped());
    }
    const QString more = group.files.size() > namesPerLine ? QStringLiteral("等") : QString();
    return QStringLiteral("%1 个文件：%2%3")
        .arg(group.files.size())
        .arg(shown.join(QStringLiteral("、")), more);
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

QString describe(const QString& type) {
    const QMimeType known = QMimeDatabase().mimeTypeForName(type);
    return known.isValid() && !known.comment().isEmpty() ? known.comment() : type;
}

QString line(const QString& site, const Group& group) {
    const Inspection& first = linked(group);
    if (!isTold(first)) {
        return QStringLiteral("<li>%1<br><span class=\"muted\">%2</span></li>")
            .arg(whyNotTold(first).toHtmlEscaped(), names(group));
    }
    const QUrl address = addressOf(site, first);
    const QString target =
        address.path(QUrl::FullyEncoded) + u'?' + address.query(QUrl::FullyEncoded);
    const bool warned = std::any_of(group.files.begin(), group.files.end(),
                                    [](const Inspection* i) { return !i->notices.isEmpty(); });
    return QStringLiteral("<li><a href=\"%1\">%2</a> <code>%3</code>%4<br>"
                          "<span class=\"muted\">%5</span></li>")
        .arg(target.toHtmlEscaped(), describe(first.type).toHtmlEscaped(),
             first.type.toHtmlEscaped(),
             warned ? QStringLiteral(" <span class=\"warn\">⚠ 名字与内容不符</span>") : QString(),
             names(group));
}

QString listPage(const QString& site, const QList<Inspection>& inspections, qsizetype given) {
    const QList<Group> groups = grouped(inspections);
    QString items;
    for (const Group& group : groups) {
        items += line(site, group);
    }
    const QString left =
        given > inspections.size()
            ? QStringLiteral("<p class=\"muted\">只看了前 %1 个文件，其余 %2 个没有查看。</p>")
                  .arg(inspections.size())
                  .arg(given - inspections.size())
            : QString();
    return page(QStringLiteral("文件类型"),
                QStringLiteral("<h1>%1 个文件，%2 种结果</h1><ul>%3</ul>%4")
                    .arg(inspections.size())
                    .arg(groups.size())
                    .arg(items, left));
}

} // namespace

Shown forFiles(const QString& site, const QList<QByteArray>& paths) {
    QList<Inspection> inspections;
    for (qsizetype i = 0; i < paths.size() && i < maxFiles; ++i) {
        inspections << filecheck::inspectNative(paths[i]);
    }
    if (inspections.isEmpty()) {
        return {};
    }
    Shown shown;
    shown.extension = inspections.first().extension;
    if (inspections.size() > 1) {
        shown.page = listPage(site, inspections, paths.size());
        shown.pageLinksToSite = true;
    } else if (isTold(inspections.first())) {
        const Inspection& only = inspections.first();
        shown.address = addressOf(site, only);
        shown.file = {paths.first(),
                      filecheck::hasNotice(only, filecheck::NoticeKind::ProgramInDisguise)
                          ? describe(only.type)
                          : QString()};
    } else {
        shown.page = onePage(inspections.first());
    }
    return shown;
}

} // namespace filelookup

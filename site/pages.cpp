#include "pages.h"

#include "addresses.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace pages {
namespace {

using knowledge::Format;
using knowledge::Program;

constexpr qsizetype compactInstallable = 5;
constexpr qsizetype fullInstallable = 20;
constexpr qsizetype compactFound = 10;
constexpr qsizetype fullFound = 60;

// One style sheet for every page, served by the site itself: the pages carry
// no inline style or script, so the site's content policy can refuse all of
// it. Colours keep body text at 4.5:1 or more against the background, light
// and dark.
const QByteArray style = QByteArrayLiteral(R"css(
:root{color-scheme:light dark;--fg:#1f2328;--muted:#57606a;--bg:#fff;--line:#d0d7de;--link:#0a58ca;--tag:#dafbe1;--tagfg:#116329;--box:#f6f8fa}
@media (prefers-color-scheme:dark){:root{--fg:#e6edf3;--muted:#9da7b3;--bg:#0d1117;--line:#30363d;--link:#6cb6ff;--tag:#1b4721;--tagfg:#aff5b4;--box:#161b22}}
*{box-sizing:border-box}
body{margin:0 auto;max-width:860px;padding:16px;font:15px/1.6 'Noto Sans CJK SC',sans-serif;color:var(--fg);background:var(--bg);overflow-wrap:anywhere}
a{color:var(--link)}
img{vertical-align:middle}
code{font-family:'Noto Sans Mono CJK SC',monospace;font-size:.93em}
h1{font-size:24px;margin:8px 0;display:flex;align-items:center;gap:10px;flex-wrap:wrap}
h1 small{font-size:16px;font-weight:normal;color:var(--muted)}
h2{font-size:18px;margin:24px 0 8px;border-bottom:1px solid var(--line);display:flex;align-items:center;gap:8px}
h3{font-size:16px;margin:16px 0 6px}
.muted{color:var(--muted)}
.tag{display:inline-block;padding:0 6px;border-radius:8px;background:var(--tag);color:var(--tagfg);font-size:.85em}
nav{display:flex;gap:12px;align-items:center;flex-wrap:wrap;margin-bottom:8px}
form{display:flex;gap:6px;flex:1 1 220px;max-width:360px}
input{flex:1;min-width:0;font:inherit;padding:3px 6px;color:var(--fg);background:var(--bg);border:1px solid var(--line);border-radius:4px}
button{font:inherit;padding:3px 12px}
dl.facts{display:grid;grid-template-columns:max-content 1fr;gap:2px 16px;margin:0}
dl.facts dt{color:var(--muted)}
dl.facts dd{margin:0}
ul.apps{list-style:none;padding:0;margin:4px 0}
ul.apps li{display:flex;gap:10px;align-items:flex-start;padding:6px 0;border-bottom:1px solid var(--line)}
ul.apps li>img,.noicon{flex:none}
.noicon{display:inline-block}
.i16{width:16px;height:16px}.i24{width:24px;height:24px}.i32{width:32px;height:32px}.i48{width:48px;height:48px}
ul.apps li:last-child{border-bottom:0}
ul.apps li>div{min-width:0}
ul.apps p{margin:0}
.cmd{display:inline-block;padding:0 6px;background:var(--box);border:1px solid var(--line);border-radius:4px;user-select:all}
footer{margin-top:32px;color:var(--muted);font-size:13px}
ul.found{padding-left:20px}
@media (max-width:480px){dl.facts{grid-template-columns:1fr}dl.facts dd{margin-bottom:6px}
section.format{display:flex;flex-direction:column}section.format>h2{order:-2}section.format>.programs{order:-1}}
body.compact{max-width:none;padding:6px 8px;font-size:12px;line-height:1.45}
.compact h1{font-size:15px;margin:0 0 2px;gap:6px}
.compact h1 small{font-size:12px}
.compact h2{font-size:12px;margin:8px 0 2px;color:var(--muted)}
.compact p{margin:0 0 2px}
.compact ul.apps{margin:0}
.compact ul.apps li{padding:2px 0;gap:6px;align-items:center;border:0}
.compact hr{border:0;border-top:1px solid var(--line);margin:6px 0}
.compact p.name img{margin-right:4px}
.compact .advice{white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.compact ul.found{margin:2px 0;padding-left:16px}
.notice{margin:0 0 6px;padding:4px 8px;border:1px solid #cf222e;border-radius:4px;background:#ffebe9;color:#82071e;font-weight:bold}
@media (prefers-color-scheme:dark){.notice{background:#3d1418;color:#ffa198;border-color:#f85149}}
)css");

QString page(const QString& title, const QString& bodyClass, const QString& body) {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                          "<title>%1</title><link rel=\"stylesheet\" href=\"/style.css\">"
                          "</head><body class=\"%2\">%3</body></html>\n")
        .arg(escape(title), bodyClass, body);
}

QString bodyClass(bool full) {
    return full ? QStringLiteral("full") : QStringLiteral("compact");
}

// A link's target as an attribute value: one path segment, encoded.
QString segment(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString fullAddress(const QString& extension) {
    return addresses::pagePath(addresses::Page::Search, extension);
}

QString compactAddress(const QString& extension) {
    return addresses::pagePath(addresses::Page::Lookup, extension);
}

QString pageAddress(const QString& extension, bool full) {
    return full ? fullAddress(extension) : compactAddress(extension);
}

QString image(const QString& address, int size) {
    if (address.isEmpty()) {
        return {};
    }
    return QStringLiteral("<img src=\"%1\" alt=\"\" width=\"%2\" height=\"%2\">")
        .arg(escape(address))
        .arg(size);
}

// A program with no icon at all keeps the room, so that names stand in one column.
QString iconOrRoom(const QString& address, int size) {
    return address.isEmpty() ? QStringLiteral("<span class=\"noicon i%1\"></span>").arg(size)
                             : image(address, size);
}

QString typeIcon(const Format& format, int size) {
    return image(format.icon, size);
}

QString programIcon(const Program& program, int size) {
    return iconOrRoom(program.icon, size);
}

QString catalogIcon(const catalog::Program& program, int size) {
    return iconOrRoom(program.icon, size);
}

QString describe(const Format& format) {
    return format.description.isEmpty() ? format.mimeType : format.description;
}

QString dotted(const QString& extension) {
    return QLatin1Char('.') + escape(extension);
}

QString searchForm() {
    return QStringLiteral("<form action=\"/search\" method=\"get\" role=\"search\">"
                          "<input type=\"search\" name=\"ext\" aria-label=\"扩展名或词语\" "
                          "placeholder=\"扩展名或词语，例如 pdf、压缩\" required>"
                          "<button type=\"submit\">查询</button></form>");
}

QString navigation() {
    return QStringLiteral("<nav><a href=\"/\">首页</a>%1</nav>").arg(searchForm());
}

QString codeList(const QStringList& items) {
    if (items.isEmpty()) {
        return QStringLiteral("<span class=\"muted\">无</span>");
    }
    QStringList shown;
    for (const QString& item : items) {
        shown << QStringLiteral("<code>%1</code>").arg(escape(item));
    }
    return shown.join(QStringLiteral("、"));
}

// Each extension as its patterns spell it (.C), linked under the name its
// page has (c).
QString extensionLinks(const QStringList& suffixes) {
    QStringList links;
    for (const QString& suffix : suffixes) {
        links << QStringLiteral("<a href=\"%1\">.%2</a>")
                     .arg(escape(fullAddress(knowledge::pageName(suffix))), escape(suffix));
    }
    return links.isEmpty() ? QStringLiteral("<span class=\"muted\">无</span>")
                           : links.join(QStringLiteral("、"));
}

QString tags(const Program& program, bool withDetails) {
    if (program.isDefault) {
        return QStringLiteral(" <span class=\"tag\">默认</span>");
    }
    return program.fromCatalog && withDetails ? QStringLiteral(" <span class=\"tag\">已安装</span>")
                                              : QString();
}

QString installedDetails(const Program& program) {
    if (program.fromCatalog) {
        return QStringLiteral("<p class=\"muted\">软件包 <code>%1</code> 已安装，"
                              "应用程序菜单里没有它的启动项。</p>")
            .arg(escape(program.package));
    }
    return QStringLiteral("<p class=\"muted\"><code>%1</code>%2</p>")
        .arg(escape(program.id), program.description.isEmpty()
                                     ? QString()
                                     : QStringLiteral(" — ") + escape(program.description));
}

QString installedItems(const QList<Program>& programs, bool withDetails) {
    QString items;
    for (const Program& program : programs) {
        items += QStringLiteral("<li>%1<div><p>%2%3</p>%4</div></li>")
                     .arg(programIcon(program, withDetails ? 32 : 16), escape(program.name),
                          tags(program, withDetails),
                          withDetails ? installedDetails(program) : QString());
    }
    return items;
}

QString installedList(const Format& format, bool withDetails) {
    const QList<Program>& programs = format.programs;
    if (programs.isEmpty()) {
        return format.opensOnLinux
                   ? QStringLiteral("<p class=\"muted\">本机尚未安装能打开此格式的软件。</p>")
                   : QStringLiteral("<p class=\"muted\">本机没有能打开此格式的软件。</p>");
    }
    return QStringLiteral("<ul class=\"apps\">%1</ul>").arg(installedItems(programs, withDetails));
}

// Debian package names; anything else from a catalog is not offered as a command.
bool isPackageName(const QString& name) {
    static const QRegularExpression valid(QStringLiteral("^[a-z0-9][a-z0-9.+-]+$"));
    return valid.match(name).hasMatch();
}

QString installCommand(const catalog::Program& program) {
    return isPackageName(program.package)
               ? QStringLiteral("<code class=\"cmd\">sudo apt install %1</code>")
                     .arg(escape(program.package))
               : QString();
}

QString siblingsNote(const catalog::Program& program) {
    return program.siblings > 0
               ? QStringLiteral("（同一软件包另有 %1 个能打开它的程序）").arg(program.siblings)
               : QString();
}

QString installableItem(const catalog::Program& program, bool full) {
    if (!full) {
        return QStringLiteral("<li>%1<div><p>%2 %3</p></div></li>")
            .arg(catalogIcon(program, 24), escape(program.name), installCommand(program));
    }
    return QStringLiteral("<li>%1<div><p><strong>%2</strong></p><p>%3</p>"
                          "<p class=\"muted\">软件包 <code>%4</code>%5 · "
                          "<a href=\"appstream://%6\">在软件中心打开</a></p><p>%7</p></div></li>")
        .arg(catalogIcon(program, 48), escape(program.name), escape(program.summary),
             escape(program.package), siblingsNote(program), escape(segment(program.id)),
             installCommand(program));
}

QString installableItems(const QList<catalog::Program>& programs, bool full) {
    const qsizetype cap = full ? fullInstallable : compactInstallable;
    QString items;
    for (qsizetype i = 0; i < programs.size() && i < cap; ++i) {
        items += installableItem(programs[i], full);
    }
    QString list = QStringLiteral("<ul class=\"apps\">%1</ul>").arg(items);
    if (programs.size() > cap) {
        list +=
            QStringLiteral("<p class=\"muted\">另有 %1 款未列出。</p>").arg(programs.size() - cap);
    }
    return list;
}

QString noneInCatalog(const Format& format) {
    return format.opensOnLinux
               ? QStringLiteral("<p class=\"muted\">软件目录中没有能打开此格式的软件。</p>")
               : QStringLiteral("<p class=\"muted\">Linux 上没有能打开此格式的软件。</p>");
}

QString installableList(const Format& format, const Catalog& catalog, bool full) {
    if (!catalog.installed) {
        return QStringLiteral("<p class=\"muted\">本机没有软件目录（AppStream），无法列出可安装的"
                              "软件；以 root 运行 apt install appstream 和 apt update 即可获得。"
                              "</p>");
    }
    if (!catalog.available) {
        return {};
    }
    const QString section = QStringLiteral("<h%1>可安装的软件</h%1>").arg(full ? 3 : 2);
    return section + (format.installable.isEmpty() ? noneInCatalog(format)
                                                   : installableItems(format.installable, full));
}

// A name set into a Chinese sentence, a blank on each side where it begins
// or ends in Latin letters ("作为 Zip 归档打开").
QString spacedInText(const QString& name) {
    const auto isLatin = [](QChar c) {
        return c.unicode() < 0x80 && c.isLetterOrNumber();
    };
    if (name.isEmpty()) {
        return {};
    }
    return (isLatin(name.front()) ? QStringLiteral(" ") : QString()) + escape(name) +
           (isLatin(name.back()) ? QStringLiteral(" ") : QString());
}

qsizetype parentProgramCount(const Format& format) {
    qsizetype count = 0;
    for (const knowledge::ParentGroup& group : format.parentGroups) {
        count += group.installed.size() + group.installable.size();
    }
    return count;
}

// The pane lists no program that opens only a type above the format; where
// nothing else opens it, it says that some do.
QString compactParentNote(const Format& format) {
    if (!format.programs.isEmpty() || !format.installable.isEmpty() ||
        format.parentGroups.isEmpty()) {
        return {};
    }
    return QStringLiteral("<p class=\"muted\">另有 %1 款软件能把它当作%2打开，见完整页面。</p>")
        .arg(parentProgramCount(format))
        .arg(spacedInText(format.parentGroups.first().description));
}

QString parentGroup(const knowledge::ParentGroup& group, const Catalog& catalog) {
    QString items = installedItems(group.installed, true);
    QList<catalog::Program> installable = group.installable;
    if (!catalog.available) {
        installable.clear();
    }
    if (items.isEmpty() && installable.isEmpty()) {
        return {};
    }
    return QStringLiteral("<h3>也可作为%1打开</h3><p class=\"muted\">下列软件打开的是它的上级格式 "
                          "<code>%2</code>，并非专为它而作。</p>")
               .arg(spacedInText(group.description), escape(group.mimeType)) +
           (items.isEmpty() ? QString() : QStringLiteral("<ul class=\"apps\">%1</ul>").arg(items)) +
           (installable.isEmpty() ? QString() : installableItems(installable, true));
}

// One line in the pane, so the programs stay in view; where no program here
// opens the format, how to open it is the answer, and is shown whole.
QString compactAdvice(const Format& format) {
    const bool adviceIsTheAnswer =
        !format.opensOnLinux || (format.programs.isEmpty() && format.installable.isEmpty());
    QStringList parts;
    if (!format.maker.isEmpty()) {
        parts << QStringLiteral("制作软件：") + format.maker;
    }
    if (!format.howToOpen.isEmpty() && !adviceIsTheAnswer) {
        parts << format.howToOpen;
    }
    const QString line = parts.join(QStringLiteral(" · "));
    QString advice =
        line.isEmpty()
            ? QString()
            : QStringLiteral("<p class=\"advice muted\" title=\"%1\">%1</p>").arg(escape(line));
    if (!format.howToOpen.isEmpty() && adviceIsTheAnswer) {
        advice +=
            QStringLiteral("<p class=\"answer\">打开方法：%1</p>").arg(escape(format.howToOpen));
    }
    return advice;
}

QString fullAdvice(const Format& format) {
    QString advice;
    if (!format.maker.isEmpty()) {
        advice += QStringLiteral("<p><strong>制作软件</strong>：%1</p>").arg(escape(format.maker));
    }
    if (!format.howToOpen.isEmpty()) {
        advice +=
            QStringLiteral("<p><strong>打开方法</strong>：%1</p>").arg(escape(format.howToOpen));
    }
    return advice;
}

QString compactSection(const Format& format, const Catalog& catalog, bool named,
                       bool describesMachine) {
    const QString name = named ? QStringLiteral("<p class=\"name\">%1<strong>%2</strong></p>")
                                     .arg(typeIcon(format, 16), escape(describe(format)))
                               : QString();
    const QString installed =
        describesMachine ? QStringLiteral("<h2>本机已安装</h2>") + installedList(format, false)
                         : QString();
    return name +
           QStringLiteral("<p class=\"muted\">类型 <code>%1</code></p>")
               .arg(escape(format.mimeType)) +
           compactAdvice(format) + installed + installableList(format, catalog, false) +
           compactParentNote(format);
}

QString facts(const Format& format) {
    return QStringLiteral("<dl class=\"facts\">"
                          "<dt>MIME 类型</dt><dd><code>%1</code></dd>"
                          "<dt>别名</dt><dd>%2</dd>"
                          "<dt>父类型</dt><dd>%3</dd>"
                          "<dt>扩展名</dt><dd>%4</dd></dl>")
        .arg(escape(format.mimeType), codeList(format.aliases), codeList(format.parents),
             extensionLinks(format.suffixes));
}

// The facts come first on a wide page; on a narrow one the programs do
// (the style sheet reorders them), since what opens the file is what a
// person came for.
QString fullSection(const Format& format, const Catalog& catalog, bool describesMachine) {
    QString programs = fullAdvice(format);
    if (describesMachine) {
        programs += QStringLiteral("<h3>本机已安装的软件</h3>") + installedList(format, true);
    }
    programs += installableList(format, catalog, true);
    for (const knowledge::ParentGroup& group : format.parentGroups) {
        programs += parentGroup(group, catalog);
    }
    return QStringLiteral("<section class=\"format\"><h2>%1%2</h2>%3<div class=\"programs\">%4"
                          "</div></section>")
        .arg(typeIcon(format, 32), escape(describe(format)), facts(format), programs);
}

QString suggestionList(const QStringList& suggestions, bool full) {
    if (suggestions.isEmpty()) {
        return {};
    }
    QStringList links;
    for (const QString& extension : suggestions) {
        links << QStringLiteral("<a href=\"%1\">.%2</a>")
                     .arg(escape(pageAddress(extension, full)), escape(extension));
    }
    return QStringLiteral("<p>您要找的是不是：%1</p>").arg(links.join(QStringLiteral("、")));
}

constexpr qsizetype foundExtensions = 4;

QString foundItem(const words::Found& found, bool full) {
    QStringList links;
    for (const QString& extension : found.extensions.mid(0, foundExtensions)) {
        links << QStringLiteral("<a href=\"%1\">.%2</a>")
                     .arg(escape(pageAddress(extension, full)), escape(extension));
    }
    return QStringLiteral("<li>%1 %2</li>")
        .arg(links.join(QStringLiteral("、")), escape(found.description));
}

QString foundList(const QList<words::Found>& found, bool full) {
    const qsizetype cap = full ? fullFound : compactFound;
    QString items;
    for (qsizetype i = 0; i < found.size() && i < cap; ++i) {
        items += foundItem(found[i], full);
    }
    QString list = QStringLiteral("<ul class=\"found\">%1</ul>").arg(items);
    if (found.size() > cap) {
        list += QStringLiteral("<p class=\"muted\">另有 %1 种未列出%2。</p>")
                    .arg(found.size() - cap)
                    .arg(full ? QString() : QStringLiteral("，见完整页面"));
    }
    return list;
}

// The public site's home: a visitor came by a link or a search engine, has
// no app and no machine of ours, and wants the search box first.
QByteArray visitorsHome() {
    const QString body =
        navigation() +
        QStringLiteral(
            "<h1>文件扩展名查询</h1>"
            "<p>收到一个不认识的文件？在上面的搜索框里输入它的扩展名（文件名最后一个“.”之后的"
            "部分，例如 <code>pdf</code>、<code>docx</code>、<code>ofd</code>），或者直接输入"
            "整个文件名，就能看到它是什么格式、哪些软件能打开它、在 Linux 上怎样安装这些软件。"
            "</p>"
            "<p>不知道扩展名也没关系：输入描述格式的词语，例如“压缩”“视频”“思维导图”，"
            "会列出相关的格式。</p>"
            "<h2>常见问题</h2>"
            "<h3>问：页面显示“没有找到扩展名……的资料”怎么办？</h3>"
            "<p>答：请检查拼写，或改用描述格式的词语查询。</p>"
            "<h3>问：资料从哪里来？</h3>"
            "<p>答：来自 freedesktop.org 的文件类型数据库、本站自己整理的常见格式表和 Debian "
            "的软件目录。</p>");
    return page(QStringLiteral("文件扩展名查询"), QStringLiteral("full"), body).toUtf8();
}

bool isFormat(const Format& format, const QString& type) {
    return format.mimeType == type || format.aliases.contains(type);
}

QString noticeList(const QStringList& notices) {
    QString shown;
    for (const QString& notice : notices) {
        shown += QStringLiteral("<p class=\"notice\" role=\"alert\">⚠ %1</p>").arg(escape(notice));
    }
    return shown;
}

QString byNameLinks(const FileAnswer& answer) {
    QStringList names;
    for (const Format& format : answer.byName) {
        names << escape(describe(format));
    }
    return QStringLiteral("<a href=\"%1\">%2</a>")
        .arg(escape(compactAddress(answer.extension)), names.join(QStringLiteral("、")));
}

// What the extension would have meant, when the content is something else.
QString byNameNote(const FileAnswer& answer) {
    if (answer.extension.isEmpty()) {
        return QStringLiteral("<p class=\"muted\">这个文件的名字没有扩展名。</p>");
    }
    const bool agrees =
        std::any_of(answer.byName.begin(), answer.byName.end(),
                    [&](const Format& format) { return isFormat(format, answer.type); });
    if (agrees || answer.type.isEmpty()) {
        return {};
    }
    if (answer.byName.isEmpty()) {
        return QStringLiteral("<p class=\"muted\">扩展名 %1 没有已知的格式。</p>")
            .arg(dotted(answer.extension));
    }
    return QStringLiteral("<p>它的扩展名 %1 本来表示：%2</p>")
        .arg(dotted(answer.extension), byNameLinks(answer));
}

QString fileHeading(const FileAnswer& answer) {
    if (answer.format) {
        return QStringLiteral("<h1>%1这个文件是 <small>%2</small></h1>")
            .arg(typeIcon(*answer.format, 24), escape(describe(*answer.format)));
    }
    if (!answer.type.isEmpty()) {
        return QStringLiteral("<h1>这个文件的内容是 <small><code>%1</code></small></h1>"
                              "<p class=\"muted\">本机的文件类型数据库没有收录这种类型。</p>")
            .arg(escape(answer.type));
    }
    return QStringLiteral("<h1>无法从内容判断这个文件的类型</h1>");
}

} // namespace

QByteArray fileAnswer(const FileAnswer& answer, const Catalog& catalog) {
    // What the extension would have meant comes straight under the answer,
    // where the pane shows it without scrolling.
    QString body = noticeList(answer.notices) + fileHeading(answer) + byNameNote(answer);
    if (answer.format) {
        body += compactSection(*answer.format, catalog, false, answer.describesMachine);
    } else if (answer.type.isEmpty()) {
        for (const Format& format : answer.byName) {
            body += compactSection(format, catalog, true, answer.describesMachine);
        }
    }
    const QString what = answer.format           ? describe(*answer.format)
                         : answer.type.isEmpty() ? QStringLiteral("类型未知")
                                                 : answer.type;
    return page(QStringLiteral("这个文件是：%1").arg(what), bodyClass(false), body).toUtf8();
}

QString escape(const QString& text) {
    QString shown = text;
    // Control characters have no business in a page, and a NUL in one is read
    // differently by every parser.
    shown.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return shown.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

QByteArray styleSheet() {
    return style;
}

QByteArray compact(const knowledge::Answer& answer, const Catalog& catalog) {
    const Format& first = answer.formats.first();
    const bool several = answer.formats.size() > 1;
    // With several formats the heading names the extension alone, and each
    // format names itself.
    const QString about =
        several ? QStringLiteral("可能是以下 %1 种格式之一").arg(answer.formats.size())
                : describe(first);
    QString body = QStringLiteral("<h1>%1%2 <small>%3</small></h1>")
                       .arg(typeIcon(first, 24), dotted(answer.extension), escape(about));
    for (qsizetype i = 0; i < answer.formats.size(); ++i) {
        body += (i > 0 ? QStringLiteral("<hr>") : QString()) +
                compactSection(answer.formats[i], catalog, several, answer.describesMachine);
    }
    return page(QStringLiteral(".%1 — %2").arg(answer.extension, about), bodyClass(false), body)
        .toUtf8();
}

QByteArray full(const knowledge::Answer& answer, const Catalog& catalog) {
    const QString intro =
        answer.formats.size() > 1
            ? QStringLiteral("扩展名为 %1 的文件可能是以下 %2 种格式之一，"
                             "最常见的在前：")
                  .arg(dotted(answer.extension))
                  .arg(answer.formats.size())
            : QStringLiteral("扩展名为 %1 的文件是以下格式：").arg(dotted(answer.extension));
    QString body = navigation() +
                   QStringLiteral("<h1>%1扩展名 %2</h1><p>%3</p>")
                       .arg(typeIcon(answer.formats.first(), 48), dotted(answer.extension), intro);
    for (const Format& format : answer.formats) {
        body += fullSection(format, catalog, answer.describesMachine);
    }
    body += answer.describesMachine
                ? QStringLiteral("<footer>以上信息来自本机的文件类型数据库、已安装的软件和发行版的"
                                 "软件目录。</footer>")
                : QStringLiteral("<footer>以上信息来自 freedesktop.org 的文件类型数据库和发行版的"
                                 "软件目录。</footer>");
    return page(QStringLiteral(".%1 — 文件格式查询").arg(answer.extension), bodyClass(true), body)
        .toUtf8();
}

QByteArray home(bool forVisitors) {
    if (forVisitors) {
        return visitorsHome();
    }
    const QString body =
        navigation() +
        QStringLiteral(
            "<h1>Zorv电子科技论坛</h1>"
            "<p>Dornavel "
            "是一个查询文件扩展名的小工具：它告诉您一种文件是什么格式、用什么软件打开。</p>"
            "<h2>怎样使用</h2><ol>"
            "<li>在输入框中输入扩展名，例如 <code>exe</code>、<code>pdf</code>，不用输入“.”。</li>"
            "<li>按回车或点击“查询”，结果显示在窗口中；按 Ctrl+S 则在浏览器中打开详细页面。</li>"
            "<li>按 F1 打开“疑难解答”。</li></ol>"
            "<h2>疑难解答</h2>"
            "<h3>问：为何查询后，网页显示“没有找到扩展名……的资料”？</h3>"
            "<p>答：请检查一下您的拼写是否正确；若正确，那就是本机还未收录此扩展名。"
            "也可以输入描述格式的词语，例如“压缩”“视频”。</p>"
            "<h3>问：为何查询后，网页显示“无法显示该页”？</h3>"
            "<p>答：查询页面由本机的查询服务提供，请确认它正在运行。</p>"
            "<h3>问：假如某个扩展名未找到，是否需要下载本软件的最新版本？</h3>"
            "<p>答：不需要。查询的内容来自本机的文件类型数据库和软件目录，安装新软件后即可查到。</"
            "p>"
            "<h3>问：那新版本和旧版本有什么区别呢？</h3>"
            "<p>答：新版本更新的是功能和界面，查询的内容与版本无关。</p>");
    return page(QStringLiteral("Zorv电子科技论坛"), QStringLiteral("full"), body).toUtf8();
}

QByteArray notFound(const QString& extension, const QStringList& suggestions, bool full) {
    const QString title = QStringLiteral("没有找到扩展名 .%1 的资料").arg(extension);
    const QString body =
        (full ? navigation() : QString()) +
        QStringLiteral("<h1>没有找到扩展名 %1 的资料</h1>"
                       "<p>文件类型数据库里没有扩展名为 %1 的格式，也没有哪种格式的名称或"
                       "说明含有这段文字。请检查拼写；也可以输入描述格式的词语，例如“压缩”“视频”。"
                       "</p>%2%3")
            .arg(dotted(extension), suggestionList(suggestions, full),
                 full ? QString() : searchForm());
    return page(title, bodyClass(full), body).toUtf8();
}

QByteArray wordResults(const QString& word, const QList<words::Found>& found, bool full) {
    const QString title = QStringLiteral("含“%1”的文件格式").arg(word);
    const QString body = (full ? navigation() : QString()) +
                         QStringLiteral("<h1>%1</h1><p class=\"muted\">“%2”不是已知的扩展名；名称或"
                                        "说明含有它的格式有 %3 种：</p>%4%5")
                             .arg(escape(title), escape(word))
                             .arg(found.size())
                             .arg(foundList(found, full), full ? QString() : searchForm());
    return page(title, bodyClass(full), body).toUtf8();
}

QByteArray searchPage(bool full) {
    const QString body =
        (full ? navigation() : QString()) +
        QStringLiteral("<h1>查询文件格式</h1><p>输入扩展名（例如 <code>pdf</code>、"
                       "<code>docx</code>，不用输入“.”），或描述格式的词语（例如“压缩”“视频”"
                       "）。</p>%1")
            .arg(full ? QString() : searchForm());
    return page(QStringLiteral("查询文件格式"), bodyClass(full), body).toUtf8();
}

QByteArray noSuchPage() {
    return page(QStringLiteral("网页未找到"), QStringLiteral("full"),
                navigation() + QStringLiteral("<h1>网页未找到</h1><p>本站没有这个网页。</p>"))
        .toUtf8();
}

} // namespace pages

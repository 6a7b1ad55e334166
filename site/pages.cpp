#include "pages.h"

namespace pages {
namespace {

using knowledge::Format;
using knowledge::Program;

// One style sheet for every page, served by the site itself: the pages carry
// no inline style, so the site's content policy can refuse all of it.
const QByteArray style = QByteArrayLiteral(
    "body.compact{margin:6px 8px;font:12px/1.4 'Noto Sans CJK SC',sans-serif;color:#222;"
    "background:#fff}"
    ".compact h1{font-size:15px;margin:0 0 4px}.compact h1 small{font-weight:normal;color:#666}"
    ".compact .type{margin:0 0 6px;color:#555}.compact .type code{color:#333}"
    ".compact ul{margin:2px 0 6px;padding-left:18px}.compact li{margin:1px 0}"
    ".compact hr{border:0;border-top:1px solid #ddd}"
    "body.full{max-width:860px;margin:24px auto;padding:0 16px;"
    "font:15px/1.6 'Noto Sans CJK SC',sans-serif;color:#222}"
    ".full h1{font-size:24px}.full h2{font-size:18px;margin-top:28px;border-bottom:1px solid #ddd}"
    ".full table{border-collapse:collapse}.full td,.full th{text-align:left;padding:3px 12px 3px "
    "0;vertical-align:top}"
    ".full th{color:#555;font-weight:normal;white-space:nowrap}.full code{font-size:14px}"
    ".default{font-weight:bold}.none{color:#888}footer{margin-top:32px;color:#888;font-size:13px}");

const QString compactStyle = QStringLiteral("compact");
const QString fullStyle = QStringLiteral("full");

QString page(const QString& title, const QString& style, const QString& body) {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width\">"
                          "<title>%1</title><link rel=\"stylesheet\" href=\"/style.css\">"
                          "</head><body class=\"%2\">%3</body></html>\n")
        .arg(escape(title), style, body);
}

QString dotted(const QString& extension) {
    return QLatin1Char('.') + escape(extension);
}

QString codeList(const QStringList& items) {
    if (items.isEmpty()) {
        return QStringLiteral("<span class=\"none\">无</span>");
    }
    QStringList escaped;
    for (const QString& item : items) {
        escaped << QStringLiteral("<code>%1</code>").arg(escape(item));
    }
    return escaped.join(QStringLiteral("、"));
}

QString programItem(const Program& program, bool withDetails) {
    QString item = escape(program.name);
    if (program.isDefault) {
        item = QStringLiteral("<span class=\"default\">%1</span>（默认）").arg(item);
    }
    if (withDetails) {
        item += QStringLiteral(" <code>%1</code>").arg(escape(program.id));
        if (!program.description.isEmpty()) {
            item += QStringLiteral(" — ") + escape(program.description);
        }
    }
    return QStringLiteral("<li>%1</li>").arg(item);
}

QString programList(const QList<Program>& programs, bool withDetails) {
    if (programs.isEmpty()) {
        return QStringLiteral("<p class=\"none\">本机尚未安装能打开此格式的软件。</p>");
    }
    QString list;
    for (const Program& program : programs) {
        list += programItem(program, withDetails);
    }
    return QStringLiteral("<ul>%1</ul>").arg(list);
}

QString describe(const Format& format) {
    return format.description.isEmpty() ? format.mimeType : format.description;
}

QString compactSection(const Format& format, bool named) {
    const QString name = named ? escape(describe(format)) + QLatin1Char(' ') : QString();
    return QStringLiteral(
               "<p class=\"type\">%1类型 <code>%2</code></p><div>用以下软件打开：</div>%3")
        .arg(name, escape(format.mimeType), programList(format.programs, false));
}

QString fullSection(const Format& format) {
    return QStringLiteral("<h2>%1</h2><table>"
                          "<tr><th>MIME 类型</th><td><code>%2</code></td></tr>"
                          "<tr><th>别名</th><td>%3</td></tr>"
                          "<tr><th>父类型</th><td>%4</td></tr>"
                          "<tr><th>扩展名</th><td>%5</td></tr></table>"
                          "<h3>能打开它的软件</h3>%6")
        .arg(escape(describe(format)), escape(format.mimeType), codeList(format.aliases),
             codeList(format.parents), codeList(format.suffixes),
             programList(format.programs, true));
}

} // namespace

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

QByteArray compact(const QString& extension, const QList<Format>& formats) {
    QString body = QStringLiteral("<h1>%1 <small>%2</small></h1>")
                       .arg(dotted(extension), escape(describe(formats.first())));
    for (qsizetype i = 0; i < formats.size(); ++i) {
        // The heading names the first format; any further ones name themselves.
        body += (i > 0 ? QStringLiteral("<hr>") : QString()) + compactSection(formats[i], i > 0);
    }
    return page(QStringLiteral(".%1 — %2").arg(extension, describe(formats.first())), compactStyle,
                body)
        .toUtf8();
}

QByteArray full(const QString& extension, const QList<Format>& formats) {
    QString body = QStringLiteral("<h1>扩展名 %1</h1><p>扩展名为 %1 的文件可能是以下格式：</p>")
                       .arg(dotted(extension));
    for (const Format& format : formats) {
        body += fullSection(format);
    }
    body += QStringLiteral("<footer>以上信息来自本机的文件类型数据库和已安装的软件。</footer>");
    return page(QStringLiteral(".%1 — 文件格式查询").arg(extension), fullStyle, body).toUtf8();
}

QByteArray home() {
    const QString body = QStringLiteral(
        "<h1>Zorv电子科技论坛</h1>"
        "<p>Dornavel 是一个查询文件扩展名的小工具：它告诉您一种文件是什么格式、用什么软件打开。</p>"
        "<h2>怎样使用</h2><ol>"
        "<li>在输入框中输入扩展名，例如 <code>exe</code>、<code>pdf</code>，不用输入“.”。</li>"
        "<li>按回车或点击“查询”，结果显示在窗口中；按 Ctrl+S 则在浏览器中打开详细页面。</li>"
        "<li>按 F1 打开“疑难解答”。</li></ol>"
        "<h2>疑难解答</h2>"
        "<h3>问：为何查询后，网页显示“网页未找到”？</h3>"
        "<p>答：请检查一下您的拼写是否正确；若正确，那就是本机还未收录此扩展名。</p>"
        "<h3>问：为何查询后，网页显示“无法显示该页”？</h3>"
        "<p>答：查询页面由本机的查询服务提供，请确认它正在运行。</p>"
        "<h3>问：假如某个扩展名未找到，是否需要下载本软件的最新版本？</h3>"
        "<p>答：不需要。查询的内容来自本机的文件类型数据库和已安装的软件，安装新软件后即可查到。</"
        "p>"
        "<h3>问：那新版本和旧版本有什么区别呢？</h3>"
        "<p>答：新版本更新的是功能和界面，查询的内容与版本无关。</p>");
    return page(QStringLiteral("Zorv电子科技论坛"), fullStyle, body).toUtf8();
}

QByteArray notFound(const QString& extension) {
    const QString body =
        QStringLiteral(
            "<h1>网页未找到</h1><p>扩展名 %1 尚未收录。</p>"
            "<p>请检查一下拼写是否正确；若正确，那就是本机的文件类型数据库还不认识它。</p>")
            .arg(dotted(extension));
    return page(QStringLiteral("网页未找到"), compactStyle, body).toUtf8();
}

QByteArray noSuchPage() {
    return page(QStringLiteral("网页未找到"), compactStyle,
                QStringLiteral("<h1>网页未找到</h1><p>本站没有这个网页。</p>"))
        .toUtf8();
}

} // namespace pages

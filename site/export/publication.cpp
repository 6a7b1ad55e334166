#include "publication.h"

#include "identitynames.h"
#include "pages.h"

#include <brotli/encode.h>
#include <zlib.h>

namespace publication {
namespace {

// Quality 9: 10 would make pages 10 % smaller at seven times the time (a
// first export of 5,000 pages from 1.5 s to 10 s on one core) and 11 another
// 1 % at twice that again. A re-export compresses only the pages that changed.
constexpr int brotliQuality = 9;

QByteArray escaped(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

QByteArray urlSet(const QUrl& root, const QList<QByteArray>& paths) {
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
    for (const QByteArray& path : paths) {
        text += "<url><loc>" + escaped(QString::fromUtf8(absolute(root, path))) + "</loc></url>\n";
    }
    return text + "</urlset>\n";
}

} // namespace

QString parseRoot(const QString& text, bool chinese, QUrl* root) {
    const QUrl url(text, QUrl::StrictMode);
    const bool web =
        url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (!url.isValid() || !web || url.host().isEmpty() || url.hasQuery() || url.hasFragment() ||
        !url.userInfo().isEmpty()) {
        return QString::fromUtf8(chinese ? "--public-root 须是网站的 http 或 https 地址，例如 "
                                           "https://lookup.example.org/，不是 %1"
                                         : "--public-root takes the site's http or https "
                                           "address, such as https://lookup.example.org/, not %1")
            .arg(text);
    }
    // Addresses are the root and a path that starts with a slash.
    *root = url.adjusted(QUrl::NormalizePathSegments);
    QString path = root->path();
    while (path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    root->setPath(path);
    return {};
}

QByteArray absolute(const QUrl& root, const QByteArray& path) {
    return root.toEncoded() + path;
}

QByteArray withHeadTags(const QByteArray& page, const QByteArray& tags) {
    const qsizetype end = page.indexOf("</head>");
    return end < 0 ? page : QByteArray(page).insert(end, tags);
}

QByteArray headTags(const QUrl& root, const QByteArray& canonicalPath, const QString& description) {
    const QString canonical =
        canonicalPath.isEmpty() ? QString() : QString::fromUtf8(absolute(root, canonicalPath));
    return pages::publishedHead(canonical, description);
}

QList<QPair<QByteArray, QByteArray>> sitemaps(const QUrl& root, const QList<QByteArray>& paths) {
    if (paths.size() <= sitemapLimit) {
        return {{"sitemap.xml", urlSet(root, paths)}};
    }
    QList<QPair<QByteArray, QByteArray>> files;
    QByteArray index = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<sitemapindex xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
    for (qsizetype start = 0; start < paths.size(); start += sitemapLimit) {
        const QByteArray file =
            "sitemaps/sitemap-" + QByteArray::number(start / sitemapLimit + 1) + ".xml";
        files.append({file, urlSet(root, paths.mid(start, sitemapLimit))});
        index += "<sitemap><loc>" + absolute(root, '/' + file) + "</loc></sitemap>\n";
    }
    files.prepend({"sitemap.xml", index + "</sitemapindex>\n"});
    return files;
}

QByteArray robots(const QUrl& root) {
    return "User-agent: *\nAllow: /\nSitemap: " + absolute(root, "/sitemap.xml") + '\n';
}

QByteArray openSearch(const QUrl& root) {
    const QByteArray name = escaped(QString::fromUtf8(identity::names::applicationTitle));
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<OpenSearchDescription xmlns=\"http://a9.com/-/spec/opensearch/1.1/\">\n"
           "<ShortName>" +
           name +
           "</ShortName>\n"
           "<Description>" +
           escaped(QStringLiteral("查询文件扩展名：是什么格式，用什么软件打开")) +
           "</Description>\n"
           "<InputEncoding>UTF-8</InputEncoding>\n"
           "<Url type=\"text/html\" method=\"get\" template=\"" +
           escaped(QString::fromUtf8(absolute(root, "/search?ext={searchTerms}"))) +
           "\"/>\n"
           "</OpenSearchDescription>\n";
}

QByteArray gzip(const QByteArray& content) {
    z_stream stream{};
    // 15 bits of window and 16 for a gzip header, which then carries no
    // name and no time.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        return {};
    }
    QByteArray out(qsizetype(deflateBound(&stream, uLong(content.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.constData()));
    stream.avail_in = uInt(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END && out.size() < content.size() ? out : QByteArray();
}

QByteArray brotli(const QByteArray& content) {
    // A window no larger than the page: the same bytes out, without setting
    // up a large window for every small page.
    int window = BROTLI_MIN_WINDOW_BITS;
    while (window < BROTLI_MAX_WINDOW_BITS && (qsizetype(1) << window) - 16 < content.size()) {
        ++window;
    }
    size_t size = BrotliEncoderMaxCompressedSize(size_t(content.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    const bool done =
        BrotliEncoderCompress(brotliQuality, window, BROTLI_MODE_TEXT, size_t(content.size()),
                              reinterpret_cast<const uint8_t*>(content.constData()), &size,
                              reinterpret_cast<uint8_t*>(out.data()));
    out.truncate(qsizetype(size));
    return done && out.size() < content.size() ? out : QByteArray();
}

} // namespace publication

#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

// What an export deployed at a known address carries beside its pages, for
// search engines, browsers and caches: absolute addresses, a sitemap,
// robots.txt, an OpenSearch description, and pages precompressed.
namespace publication {

// The sitemap protocol's limit of addresses in one file.
inline constexpr int sitemapLimit = 50000;

// The deployed address as given to --public-root: an http or https URL
// with a host and nothing after its path. Returns an empty string, or why
// it is refused.
QString parseRoot(const QString& text, bool chinese, QUrl* root);

// The absolute address of a root-relative path under the root.
QByteArray absolute(const QUrl& root, const QByteArray& path);

// The page with the tags set at the end of its head.
QByteArray withHeadTags(const QByteArray& page, const QByteArray& tags);

// A page's canonical address, description and search link, escaped.
QByteArray headTags(const QUrl& root, const QByteArray& canonicalPath, const QString& description);

// sitemap.xml, and with more addresses than one may hold, the parts it
// names under sitemaps/: each file with its content, relative to the root.
QList<QPair<QByteArray, QByteArray>> sitemaps(const QUrl& root, const QList<QByteArray>& paths);

QByteArray robots(const QUrl& root);
QByteArray openSearch(const QUrl& root);

// Deterministic, so the same page gives the same file; empty when the
// compressed form would not be smaller.
QByteArray gzip(const QByteArray& content);
QByteArray brotli(const QByteArray& content);

} // namespace publication

#include "routes.h"

#include "addresses.h"
#include "filecheck.h"
#include "icons.h"
#include "knowledge.h"
#include "pages.h"
#include "policy.h"
#include "sitelog.h"

#include <QFile>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>

namespace routes {
namespace {

using http::Request;
using http::Response;

constexpr qint64 maxIconBytes = 1024 * 1024;

Response bare(int status) {
    Response response;
    response.status = status;
    return response;
}

Response html(int status, const QByteArray& body) {
    Response response{
        .status = status, .headers = {{"Content-Type", "text/html; charset=utf-8"}}, .body = body};
    response.headers.emplaceBack("Cache-Control", "no-store");
    return response;
}

Response lasting(const QByteArray& type, const QByteArray& body) {
    Response response{.status = 200, .headers = {{"Content-Type", type}}, .body = body};
    response.headers.emplaceBack("Cache-Control", "public, max-age=86400");
    return response;
}

Response showing(Response response, const QList<knowledge::Format>& formats) {
    for (const knowledge::Format& format : formats) {
        for (const QString& icon : knowledge::iconsOf(format)) {
            response.icons.append(icon.toLatin1());
        }
    }
    return response;
}

QString decoded(const QByteArray& encoded) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
}

// The search box's form: /search?ext=<text> goes on to that extension's page.
Response search(const Request& request, knowledge::Knowledge& knowledge) {
    QString typed;
    for (const http::Field& field : request.query) {
        if (field.first == "ext") {
            typed = decoded(QByteArray(field.second).replace('+', ' '));
        }
    }
    const QString extension = knowledge.normalise(typed);
    Response response = bare(303);
    response.headers.emplaceBack(
        "Location", (extension.isEmpty() ? addresses::rootPath()
                                         : addresses::pagePath(addresses::Page::Search, extension))
                        .toLatin1());
    return response;
}

// What the app found in a file it was given: the extension, the type its
// content says and the kinds of notice its name calls for. The name itself
// never comes here.
struct FileFinding {
    QString extension;
    QString type;
    QList<filecheck::NoticeKind> notices;
};

// "/filefound/<extension>.html?type=<MIME type>&notice=<kind>,<kind>", the
// extension possibly empty; nothing when the query names neither.
std::optional<FileFinding> fileFinding(const Request& request) {
    const std::optional<addresses::PageRequest> page = addresses::pageOf(request.path);
    if (!page || page->page != addresses::Page::Lookup) {
        return std::nullopt;
    }
    // Only a media type and the notices the app knows are taken: any other
    // text would be shown under the site's own name as if the app had said it.
    FileFinding finding;
    for (const http::Field& field : request.query) {
        const QByteArray value = QByteArray::fromPercentEncoding(field.second).trimmed();
        if (field.first == addresses::typeField && policy::isMediaType(value)) {
            finding.type = QString::fromLatin1(value);
        } else if (field.first == addresses::noticeField) {
            for (const QString& code : QString::fromUtf8(value).split(u',', Qt::SkipEmptyParts)) {
                const std::optional<filecheck::NoticeKind> kind = filecheck::noticeKindOf(code);
                if (kind && !finding.notices.contains(*kind)) {
                    finding.notices.append(*kind);
                }
            }
        }
    }
    if (finding.type.isEmpty() && finding.notices.isEmpty()) {
        return std::nullopt;
    }
    finding.extension = page->extension;
    return finding;
}

} // namespace

Site::Site(const Options& options)
    : m_port(options.port)
    , m_public(options.isPublic)
    , m_sources(options) {}

Site::~Site() = default;

knowledge::Scope Site::scope() const {
    return m_public ? knowledge::Scope::Public : knowledge::Scope::Machine;
}

Response Site::respond(const Request& request) {
    const auto start = std::chrono::steady_clock::now();
    m_lastRequest.store(start);
    const std::optional<Response> refused = policy::refusal(request, m_port.load(), m_public);
    if (refused) {
        policy::logRefusal(request, refused->status);
    }
    Response response = refused ? *refused : page(request);
    // Each answer reports how long it took, so its cost can be measured apart
    // from the network's.
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    response.headers.emplaceBack("Server-Timing",
                                 "page;dur=" + QByteArray::number(elapsed.count()));
    return policy::withSecurityHeaders(std::move(response));
}

namespace {

// A lookup page's address: which extension, and which of the two pages.
struct Lookup {
    QString extension;
    bool full = false;
};

// A page for no extension at all is no lookup page.
std::optional<Lookup> lookupOf(const QByteArray& path) {
    const std::optional<addresses::PageRequest> page = addresses::pageOf(path);
    if (!page || page->extension.isEmpty()) {
        return std::nullopt;
    }
    return Lookup{page->extension, page->page == addresses::Page::Search};
}

// Where a page is kept: a lookup page under its extension's normalised form,
// since every spelling of it shows the same page, and not at all for an
// extension longer than any there is.
std::optional<QByteArray> cacheKey(const QByteArray& path, const std::optional<Lookup>& lookup,
                                   knowledge::Knowledge& knowledge) {
    if (!lookup) {
        return path;
    }
    if (lookup->extension.size() > policy::maxExtensionLength) {
        return std::nullopt;
    }
    return addresses::pagePath(lookup->full ? addresses::Page::Search : addresses::Page::Lookup,
                               knowledge.normalise(lookup->extension))
        .toLatin1();
}

} // namespace

Response Site::fixedPage(const QByteArray& path) {
    if (path.startsWith("/icons/")) {
        return icon(path);
    }
    if (path == "/") {
        return html(200, pages::home(m_public));
    }
    if (path == "/style.css") {
        return lasting("text/css; charset=utf-8", pages::styleSheet());
    }
    // A button the app carries out, followed in a browser: the site acts on none.
    if (addresses::isActionPath(QString::fromLatin1(path))) {
        return html(404, pages::actionElsewhere());
    }
    return html(404, pages::noSuchPage());
}

Response Site::page(const Request& request) {
    const QByteArray& path = request.path;
    if (path == "/search") {
        return search(request, m_sources.knowledge());
    }
    // A file's page is made afresh each time: there is no end to the
    // combinations a query can name, and none is asked for twice in a row.
    // What a file holds is the app's word; a page of another site that links
    // here with its own gets the plain page.
    const std::optional<FileFinding> finding =
        policy::isFromElsewhere(request) ? std::nullopt : fileFinding(request);
    if (finding) {
        return filePage(finding->extension, finding->type, finding->notices);
    }
    const std::optional<Lookup> lookup = lookupOf(path);
    const std::optional<QByteArray> key = cacheKey(path, lookup, m_sources.knowledge());
    PageCache& cache = m_sources.pages();
    if (key) {
        if (std::optional<Response> kept = cache.find(*key)) {
            return *kept;
        }
    }
    const quint64 generation = cache.generation();
    Response response = lookup ? lookupPage(lookup->extension, lookup->full) : fixedPage(path);
    // Only what exists is kept: there is no end to the addresses that do not.
    if (key && response.status == 200) {
        cache.store(*key, generation, response);
    }
    return response;
}

// A text that is no extension may be a word for a format (压缩, video);
// nothing typed at all asks for the search box.
Response Site::lookupPage(const QString& typed, bool full) {
    if (typed.size() > policy::maxExtensionLength) {
        return html(404, pages::notFound(typed.trimmed(), {}, full));
    }
    knowledge::Knowledge& knowledge = m_sources.knowledge();
    if (knowledge.normalise(typed).isEmpty()) {
        return html(200, pages::searchPage(full));
    }
    const std::shared_ptr<const catalog::Catalog> catalog = m_sources.catalog();
    const knowledge::Answer answer = knowledge.lookUp(typed, *catalog, scope());
    if (answer.formats.isEmpty()) {
        const QList<words::Found> found = m_sources.words().find(answer.extension, *catalog);
        if (!found.isEmpty()) {
            return html(200, pages::wordResults(answer.extension, found, full));
        }
        return html(
            404, pages::notFound(answer.extension, knowledge.suggestions(answer.extension), full));
    }
    const pages::Catalog shown{catalog->isInstalled(), catalog->isAvailable()};
    return showing(html(200, full ? pages::full(answer, shown) : pages::compact(answer, shown)),
                   answer.formats);
}

// The page for what a file's content is, with what its extension would
// have meant beside it when that is something else, under the notices its
// name called for.
Response Site::filePage(const QString& extension, const QString& type,
                        const QList<filecheck::NoticeKind>& notices) {
    if (extension.size() > policy::maxExtensionLength || type.size() > policy::maxExtensionLength) {
        return html(404, pages::noSuchPage());
    }
    const std::shared_ptr<const catalog::Catalog> catalog = m_sources.catalog();
    knowledge::Knowledge& knowledge = m_sources.knowledge();
    pages::FileAnswer answer;
    answer.extension = extension;
    answer.type = type;
    answer.describesMachine = !m_public;
    if (!type.isEmpty()) {
        answer.format = knowledge.formatFor(type, *catalog, scope());
    }
    if (!extension.isEmpty()) {
        answer.byName = knowledge.lookUp(extension, *catalog, scope()).formats;
    }
    for (const filecheck::NoticeKind kind : notices) {
        answer.notices << filecheck::noticeText(kind, type, extension);
    }
    const pages::Catalog shown{catalog->isInstalled(), catalog->isAvailable()};
    QList<knowledge::Format> formats = answer.byName;
    if (answer.format) {
        formats.prepend(*answer.format);
    }
    return showing(html(200, pages::fileAnswer(answer, shown)), formats);
}

// The file is found again from what the address names, never from the
// address itself.
Response Site::icon(const QByteArray& path) {
    const QString file = icons::resolve(path, m_sources.icons(), *m_sources.catalog(), m_public);
    QFile content(file);
    if (file.isEmpty() || !content.open(QIODevice::ReadOnly) || content.size() > maxIconBytes) {
        return html(404, pages::noSuchPage());
    }
    return lasting(icons::contentType(file), content.readAll());
}

} // namespace routes

#include "routes.h"

#include "addresses.h"
#include "filecheck.h"
#include "icons.h"
#include "knowledge.h"
#include "mimedirs.h"
#include "pages.h"
#include "policy.h"
#include "sitelog.h"

#include <QFile>
#include <QFileInfo>
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

Response described(Response response, QString description) {
    response.description = std::move(description);
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

// The search box's form: /search?ext=<text> goes on to that extension's page.
Response search(const QString& extension) {
    Response response = bare(303);
    response.headers.emplaceBack(
        "Location", (extension.isEmpty() ? addresses::rootPath()
                                         : addresses::pagePath(addresses::Page::Search, extension))
                        .toLatin1());
    return response;
}

// The kinds of notice a file's name calls for, of those the app knows.
QList<filecheck::NoticeKind> noticesOf(const QStringList& codes) {
    QList<filecheck::NoticeKind> notices;
    for (const QString& code : codes) {
        const std::optional<filecheck::NoticeKind> kind = filecheck::noticeKindOf(code);
        if (kind && !notices.contains(*kind)) {
            notices.append(*kind);
        }
    }
    return notices;
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

// Where a page is kept: a lookup page under its extension's normalised form,
// since every spelling of it shows the same page, and not at all for an
// extension longer than any there is.
std::optional<QByteArray> cacheKey(const QByteArray& path, const addresses::SiteRequest& asked,
                                   const QString& extension) {
    if (asked.asked != addresses::Asked::Lookup) {
        return path;
    }
    if (asked.text.size() > policy::maxExtensionLength) {
        return std::nullopt;
    }
    return addresses::pagePath(asked.page, extension).toLatin1();
}

// Whom the pages are for and the date of their facts: the newest of the MIME
// databases (the site's own format table among them) and the catalog's files,
// worked out once per thread until the sources change.
pages::Frame frameOf(bool isPublic, Sources& sources) {
    const auto date = [&sources] {
        thread_local const Sources* seen = nullptr;
        thread_local quint64 generation = 0;
        thread_local QDate date;
        if (seen != &sources || generation != sources.pages().generation()) {
            seen = &sources;
            generation = sources.pages().generation();
            QDateTime newest;
            for (const QString& file : sources.mimeCacheFiles() + sources.catalog()->files()) {
                newest = std::max(newest, QFileInfo(file).lastModified());
            }
            date = newest.date();
        }
        return date;
    };
    return {isPublic, date};
}

} // namespace

Response Site::fixedPage(const addresses::SiteRequest& asked, const QByteArray& path) {
    switch (asked.asked) {
    case addresses::Asked::Icon:
        return icon(path);
    case addresses::Asked::Home:
        return described(html(200, pages::home(m_public)), pages::homeSummary());
    case addresses::Asked::About:
        return described(html(200, pages::about()), pages::aboutSummary());
    case addresses::Asked::Style:
        return lasting("text/css; charset=utf-8", pages::styleSheet());
    case addresses::Asked::Action:
        // A button the app carries out, followed in a browser: the site acts on none.
        return html(404, pages::actionElsewhere());
    default:
        return html(404, pages::noSuchPage());
    }
}

Response Site::page(const Request& request) {
    const pages::Framing framing(frameOf(m_public, m_sources));
    addresses::SiteRequest asked = addresses::siteRequestOf(request.path, request.query);
    // What a file holds is the app's word; a page of another site that links
    // here with its own gets the plain page.
    if (policy::isFromElsewhere(request)) {
        asked.fileType.clear();
        asked.notices.clear();
    }
    // The one place the typed text becomes an extension.
    const bool typed =
        asked.asked == addresses::Asked::Lookup || asked.asked == addresses::Asked::SearchBox;
    const QString extension = typed && asked.text.size() <= policy::maxExtensionLength
                                  ? m_sources.knowledge().normalise(asked.text)
                                  : QString();
    if (asked.asked == addresses::Asked::SearchBox) {
        return search(extension);
    }
    // A file's page is made afresh each time: there is no end to the
    // combinations a query can name, and none is asked for twice in a row.
    if (asked.isFile()) {
        return asked.text.size() > policy::maxExtensionLength
                   ? html(404, pages::noSuchPage())
                   : filePage(extension, asked.fileType, noticesOf(asked.notices));
    }
    const std::optional<QByteArray> key = cacheKey(request.path, asked, extension);
    PageCache& cache = m_sources.pages();
    if (key) {
        if (std::optional<Response> kept = cache.find(*key)) {
            return *kept;
        }
    }
    const quint64 generation = cache.generation();
    Response response =
        asked.asked == addresses::Asked::Lookup
            ? lookupPage(asked.text, extension, asked.page == addresses::Page::Search)
            : fixedPage(asked, request.path);
    // Only what exists is kept: there is no end to the addresses that do not.
    if (key && response.status == 200) {
        cache.store(*key, generation, response);
    }
    return response;
}

// A text that is no extension may be a word for a format (压缩, video);
// nothing typed at all asks for the search box.
Response Site::lookupPage(const QString& typed, const QString& extension, bool full) {
    if (typed.size() > policy::maxExtensionLength) {
        return html(404, pages::notFound(typed.trimmed(), {}, full));
    }
    if (extension.isEmpty()) {
        return html(200, pages::searchPage(full));
    }
    knowledge::Knowledge& knowledge = m_sources.knowledge();
    const std::shared_ptr<const catalog::Catalog> catalog = m_sources.catalog();
    const knowledge::Answer answer = knowledge.lookUp(extension, *catalog, scope());
    if (answer.formats.isEmpty()) {
        const QList<words::Found> found = m_sources.words().find(answer.extension, *catalog);
        if (!found.isEmpty()) {
            return html(200, pages::wordResults(answer.extension, found, full));
        }
        return html(
            404, pages::notFound(answer.extension, knowledge.suggestions(answer.extension), full));
    }
    const pages::Catalog shown{catalog->isInstalled(), catalog->isAvailable()};
    return described(
        showing(html(200, full ? pages::full(answer, shown) : pages::compact(answer, shown)),
                answer.formats),
        pages::summary(answer));
}

// The page for what a file's content is, with what its extension would
// have meant beside it when that is something else, under the notices its
// name called for.
Response Site::filePage(const QString& extension, const QString& type,
                        const QList<filecheck::NoticeKind>& notices) {
    if (type.size() > policy::maxExtensionLength) {
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

#include "routes.h"

#include "addresses.h"
#include "filecheck.h"
#include "icons.h"
#include "knowledge.h"
#include "mimesettling.h"
#include "pages.h"
#include "sitelog.h"
#include "watcher.h"
#include "words.h"

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

// No extension a database knows comes anywhere near this long; a longer
// target is refused before anything looks at it.
constexpr qsizetype maxTargetLength = 8192;
constexpr qsizetype maxExtensionLength = 255;
constexpr qint64 maxIconBytes = 1024 * 1024;

// Pages load nothing but the site's own style sheet and images, and are never
// framed by anyone.
constexpr const char* contentSecurityPolicy =
    "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
    "base-uri 'none'; frame-ancestors 'none'";

Response withSecurityHeaders(Response response) {
    response.headers.emplaceBack("X-Content-Type-Options", "nosniff");
    response.headers.emplaceBack("Content-Security-Policy", contentSecurityPolicy);
    response.headers.emplaceBack("Referrer-Policy", "no-referrer");
    return response;
}

Response bare(int status) {
    Response response;
    response.status = status;
    return response;
}

Response html(int status, const QByteArray& body) {
    Response response{status, {{"Content-Type", "text/html; charset=utf-8"}}, body};
    response.headers.emplaceBack("Cache-Control", "no-store");
    return response;
}

Response lasting(const QByteArray& type, const QByteArray& body) {
    Response response{200, {{"Content-Type", type}}, body};
    response.headers.emplaceBack("Cache-Control", "public, max-age=86400");
    return response;
}

// The hosts under which the site may be asked for: its own loopback address
// by any of its names. Anything else is a page whose domain now points here
// (DNS rebinding) and must not read this machine's programs.
bool isOwnHost(const QByteArray& host, int port) {
    return port > 0 && port <= 65535 && addresses::isLoopbackHost(host, quint16(port));
}

// A page shown inside another page: these pages are never framed, and one
// framed from elsewhere could be dressed up as something else.
bool isNested(const QByteArray& destination) {
    for (const char* nested : {"iframe", "frame", "embed", "object"}) {
        if (destination == nested) {
            return true;
        }
    }
    return false;
}

// Another site's page may send the browser here at top level, as a link
// does, but may not fetch from here with its own scripts or forms, nor show
// these pages inside its own.
bool isForeignFetch(const Request& request, int port) {
    const QByteArray site = request.header("Sec-Fetch-Site");
    if (request.header("Sec-Fetch-Mode") == "navigate") {
        return (site == "cross-site" || site == "same-site") &&
               isNested(request.header("Sec-Fetch-Dest"));
    }
    if (site == "cross-site") {
        return true;
    }
    const QByteArray origin = request.header("Origin");
    return !origin.isNull() && !(origin.startsWith("http://") && isOwnHost(origin.mid(7), port));
}

// Two lengths, or a length beside chunking, let two parsers read two
// different requests from the same bytes.
bool hasAmbiguousFraming(const Request& request) {
    const qsizetype lengths = request.headerCount("Content-Length");
    return lengths > 1 || (lengths == 1 && request.headerCount("Transfer-Encoding") > 0);
}

bool isToken(const QByteArray& text) {
    static constexpr std::string_view punctuation = "!#$%&'*+-.^_`|~";
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               punctuation.find(c) != std::string_view::npos;
    });
}

// A header line that another parser may read differently: a name with a
// blank before its colon, or a line folded onto the next. The HTTP layer
// joins a folded line's continuation onto the field's name, so a folded
// framing header shows as a name that starts with one and goes on.
bool hasMalformedField(const Request& request) {
    for (const http::Field& field : request.headers) {
        if (!isToken(field.first)) {
            return true;
        }
        for (const QByteArrayView framing : {"Transfer-Encoding", "Content-Length"}) {
            if (field.first.size() > framing.size() &&
                framing.compare(field.first.first(framing.size()), Qt::CaseInsensitive) == 0) {
                return true;
            }
        }
    }
    return false;
}

// Chunked is the only transfer coding read here; under any other the
// body's end would be unknown, and the request could only hang.
std::optional<int> transferCodingError(const Request& request) {
    QByteArrayList codings;
    for (const http::Field& field : request.headers) {
        if (field.first.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            codings += field.second.split(',');
        }
    }
    if (codings.isEmpty()) {
        return std::nullopt;
    }
    for (const QByteArray& coding : codings) {
        if (!isToken(coding.split(';').first().trimmed())) {
            return 400;
        }
    }
    const bool chunked = codings.size() == 1 &&
                         codings.first().trimmed().compare("chunked", Qt::CaseInsensitive) == 0;
    return chunked ? std::nullopt : std::optional(501);
}

// The whole target, path and query, as it came.
qsizetype targetLength(const Request& request) {
    qsizetype length = request.path.size();
    for (const http::Field& field : request.query) {
        length += field.first.size() + field.second.size() + 2;
    }
    return length;
}

// Text typed into the search box that no extension could be: room for
// blanks and dots around the longest. The answer sends it back in a header,
// which must fit beside the request in the connection's memory.
bool isOverlongSearch(const Request& request) {
    constexpr qsizetype maxTyped = 2 * maxExtensionLength;
    if (request.path != "/search") {
        return false;
    }
    for (const http::Field& field : request.query) {
        if (QString::fromUtf8(QByteArray::fromPercentEncoding(field.second)).size() > maxTyped) {
            return true;
        }
    }
    return false;
}

QString decoded(const QByteArray& encoded) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
}

// The search box's form: /search?ext=<text> goes on to that extension's page.
Response search(const Request& request) {
    QString typed;
    for (const http::Field& field : request.query) {
        if (field.first == "ext") {
            typed = decoded(QByteArray(field.second).replace('+', ' '));
        }
    }
    const QString extension = knowledge::normalise(typed);
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
    FileFinding finding;
    bool found = false;
    for (const http::Field& field : request.query) {
        if (field.first == addresses::typeField) {
            finding.type = decoded(field.second).trimmed();
            found = true;
        } else if (field.first == addresses::noticeField) {
            for (const QString& code : decoded(field.second).split(u',', Qt::SkipEmptyParts)) {
                const std::optional<filecheck::NoticeKind> kind = filecheck::noticeKindOf(code);
                if (kind && !finding.notices.contains(*kind)) {
                    finding.notices.append(*kind);
                }
            }
            found = true;
        }
    }
    if (!found) {
        return std::nullopt;
    }
    finding.extension = page->extension;
    return finding;
}

// What the site answers instead of a page, if the request may not have one.
std::optional<Response> refusal(const Request& request, int port, bool isPublic) {
    // The body's framing is in doubt, so nothing after this request on the
    // connection can be told apart from it.
    const std::optional<int> codingError = transferCodingError(request);
    if (hasAmbiguousFraming(request) || hasMalformedField(request) || codingError) {
        Response response = bare(codingError.value_or(400));
        response.closeConnection = true;
        return response;
    }
    if (!isPublic && !isOwnHost(request.header("Host"), port)) {
        return bare(421);
    }
    if (!isPublic && isForeignFetch(request, port)) {
        return bare(403);
    }
    if (request.method != "GET" && request.method != "HEAD") {
        // Whatever body follows is never read.
        Response response = bare(405);
        response.headers.emplaceBack("Allow", "GET, HEAD");
        response.closeConnection = true;
        return response;
    }
    if (targetLength(request) > maxTargetLength || isOverlongSearch(request)) {
        return bare(414);
    }
    return std::nullopt;
}

// What a client sent, as a log line may hold it: cut short, and nothing that
// could end the line or pass for another.
QByteArray loggable(const QByteArray& sent) {
    constexpr qsizetype shown = 160;
    QByteArray line = sent.left(shown);
    for (char& c : line) {
        const auto byte = static_cast<unsigned char>(c);
        c = byte < 0x20 || byte >= 0x7f ? '?' : c;
    }
    return sent.size() > shown ? line + "..." : line;
}

const char* refusalReason(int status) {
    switch (status) {
    case 421:
        return "Host 不是本站";
    case 403:
        return "别的网站发起的请求";
    case 405:
        return "方法不受理";
    case 414:
        return "地址或搜索词过长";
    case 501:
        return "不认识的传输编码";
    default:
        return "请求头有歧义或不合格式";
    }
}

void logRefusal(const Request& request, int status) {
    qCDebug(lcHttp, "拒绝 %d（%s）：%s %s，Host: %s", status, refusalReason(status),
            loggable(request.method).constData(), loggable(request.path).constData(),
            loggable(request.header("Host")).constData());
}

} // namespace

Site::Site(const Options& options)
    : m_port(options.port)
    , m_catalogDir(options.catalogDir)
    , m_public(options.isPublic)
    , m_catalog(catalog::Catalog::load(options.catalogDir))
    , m_cache(options.cache) {
    if (!options.watch) {
        return;
    }
    m_watcher =
        std::make_unique<Watcher>(Watcher::Callbacks{.programsChanged =
                                                         [this] {
                                                             knowledge::forget();
                                                             m_cache.invalidate("已装程序有变");
                                                         },
                                                     .mimeChanged =
                                                         [this](const char* why) {
                                                             knowledge::forget();
                                                             m_cache.invalidate(why, mimeSettling);
                                                         },
                                                     .catalogChanged =
                                                         [this] {
                                                             reloadCatalog();
                                                         }},
                                  [this] { return currentCatalog()->files(); });
}

Site::~Site() = default;

std::shared_ptr<const catalog::Catalog> Site::currentCatalog() const {
    const QMutexLocker locker(&m_catalogLock);
    return m_catalog;
}

// Loaded aside while the old catalog keeps serving, so no request waits for it.
void Site::reloadCatalog() {
    std::shared_ptr<const catalog::Catalog> fresh = catalog::Catalog::load(m_catalogDir);
    {
        const QMutexLocker locker(&m_catalogLock);
        m_catalog.swap(fresh);
    }
    m_cache.invalidate("软件目录已重新读入");
}

Response Site::respond(const Request& request) {
    const auto start = std::chrono::steady_clock::now();
    m_lastRequest.store(start);
    const std::optional<Response> refused = refusal(request, m_port.load(), m_public);
    if (refused) {
        logRefusal(request, refused->status);
    }
    Response response = refused ? *refused : page(request);
    // Each answer reports how long it took, so its cost can be measured apart
    // from the network's.
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    response.headers.emplaceBack("Server-Timing",
                                 "page;dur=" + QByteArray::number(elapsed.count()));
    return withSecurityHeaders(std::move(response));
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
std::optional<QByteArray> cacheKey(const QByteArray& path, const std::optional<Lookup>& lookup) {
    if (!lookup) {
        return path;
    }
    if (lookup->extension.size() > maxExtensionLength) {
        return std::nullopt;
    }
    return addresses::pagePath(lookup->full ? addresses::Page::Search : addresses::Page::Lookup,
                               knowledge::normalise(lookup->extension))
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
    return html(404, pages::noSuchPage());
}

Response Site::page(const Request& request) {
    const QByteArray& path = request.path;
    if (path == "/search") {
        return search(request);
    }
    // A file's page is made afresh each time: there is no end to the
    // combinations a query can name, and none is asked for twice in a row.
    if (const std::optional<FileFinding> finding = fileFinding(request)) {
        return filePage(finding->extension, finding->type, finding->notices);
    }
    const std::optional<Lookup> lookup = lookupOf(path);
    const std::optional<QByteArray> key = cacheKey(path, lookup);
    if (key) {
        if (std::optional<Response> kept = m_cache.find(*key)) {
            return *kept;
        }
    }
    const quint64 generation = m_cache.generation();
    Response response = lookup ? lookupPage(lookup->extension, lookup->full) : fixedPage(path);
    // Only what exists is kept: there is no end to the addresses that do not.
    if (key && response.status == 200) {
        m_cache.store(*key, generation, response);
    }
    return response;
}

// A text that is no extension may be a word for a format (压缩, video);
// nothing typed at all asks for the search box.
Response Site::lookupPage(const QString& typed, bool full) {
    if (typed.size() > maxExtensionLength) {
        return html(404, pages::notFound(typed.trimmed(), {}, full));
    }
    if (knowledge::normalise(typed).isEmpty()) {
        return html(200, pages::searchPage(full));
    }
    const std::shared_ptr<const catalog::Catalog> catalog = currentCatalog();
    const knowledge::Answer answer = knowledge::lookUp(
        typed, *catalog, m_public ? knowledge::Scope::Public : knowledge::Scope::Machine);
    if (answer.formats.isEmpty()) {
        const QList<words::Found> found = words::find(answer.extension, *catalog);
        if (!found.isEmpty()) {
            return html(200, pages::wordResults(answer.extension, found, full));
        }
        return html(
            404, pages::notFound(answer.extension, knowledge::suggestions(answer.extension), full));
    }
    const pages::Catalog shown{catalog->isInstalled(), catalog->isAvailable()};
    return html(200, full ? pages::full(answer, shown) : pages::compact(answer, shown));
}

// The page for what a file's content is, with what its extension would
// have meant beside it when that is something else, under the notices its
// name called for.
Response Site::filePage(const QString& extension, const QString& type,
                        const QList<filecheck::NoticeKind>& notices) {
    if (extension.size() > maxExtensionLength || type.size() > maxExtensionLength) {
        return html(404, pages::noSuchPage());
    }
    const std::shared_ptr<const catalog::Catalog> catalog = currentCatalog();
    const knowledge::Scope scope = m_public ? knowledge::Scope::Public : knowledge::Scope::Machine;
    pages::FileAnswer answer;
    answer.extension = extension;
    answer.type = type;
    answer.describesMachine = !m_public;
    if (!type.isEmpty()) {
        answer.format = knowledge::formatFor(type, *catalog, scope);
    }
    if (!extension.isEmpty()) {
        answer.byName = knowledge::lookUp(extension, *catalog, scope).formats;
    }
    for (const filecheck::NoticeKind kind : notices) {
        answer.notices << filecheck::noticeText(kind, type, extension);
    }
    const pages::Catalog shown{catalog->isInstalled(), catalog->isAvailable()};
    return html(200, pages::fileAnswer(answer, shown));
}

// The file is found again from what the address names, never from the
// address itself.
Response Site::icon(const QByteArray& path) {
    icons::Kind kind{};
    QString name;
    if (!icons::parseAddress(path, &kind, &name) || (m_public && kind == icons::Kind::Program)) {
        return html(404, pages::noSuchPage());
    }
    const QString file = kind == icons::Kind::Type      ? icons::themedIconFile(name)
                         : kind == icons::Kind::Program ? icons::programIconFile(name)
                                                        : currentCatalog()->iconFile(name);
    QFile content(file);
    if (file.isEmpty() || icons::address(kind, name, file) != QString::fromLatin1(path) ||
        !content.open(QIODevice::ReadOnly) || content.size() > maxIconBytes) {
        return html(404, pages::noSuchPage());
    }
    return lasting(icons::contentType(file), content.readAll());
}

} // namespace routes

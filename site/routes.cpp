#include "routes.h"

#include "knowledge.h"
#include "pages.h"

#include <chrono>
#include <cstring>

namespace routes {
namespace {

using http::Request;
using http::Response;

// No extension a database knows comes anywhere near this long; a longer
// target is refused before anything looks at it.
constexpr qsizetype maxTargetLength = 8192;
constexpr qsizetype maxExtensionLength = 255;

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

// The hosts under which the site may be asked for: its own loopback address
// by any of its names. Anything else is a page whose domain now points here
// (DNS rebinding) and must not read this machine's programs.
bool isOwnHost(const QByteArray& host, int port) {
    const QByteArray suffix = ':' + QByteArray::number(port);
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
        if (host.compare(name + suffix, Qt::CaseInsensitive) == 0 ||
            (port == 80 && host.compare(name, Qt::CaseInsensitive) == 0)) {
            return true;
        }
    }
    return false;
}

// Another site's page may send the browser here at top level, as a link
// does, but may not fetch from here with its own scripts or forms.
bool isForeignFetch(const Request& request, int port) {
    if (request.header("Sec-Fetch-Mode") == "navigate") {
        return false;
    }
    if (request.header("Sec-Fetch-Site") == "cross-site") {
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

// "/<prefix><extension><suffix>", the extension percent-decoded exactly once.
bool matchLookup(const QByteArray& path, const char* prefix, const char* suffix,
                 QString* extension) {
    if (!path.startsWith(prefix) || !path.endsWith(suffix)) {
        return false;
    }
    const qsizetype start = qsizetype(std::strlen(prefix));
    const qsizetype length = path.size() - start - qsizetype(std::strlen(suffix));
    if (length <= 0) {
        return false;
    }
    *extension = QString::fromUtf8(QByteArray::fromPercentEncoding(path.mid(start, length)));
    return true;
}

using Render = QByteArray (*)(const QString&, const QList<knowledge::Format>&);

// Each lookup page reports how long it took, so its cost can be measured
// apart from the network's.
Response lookupPage(const QString& extension, Render render) {
    const auto start = std::chrono::steady_clock::now();
    const QList<knowledge::Format> formats = extension.size() <= maxExtensionLength
                                                 ? knowledge::lookUp(extension)
                                                 : QList<knowledge::Format>();
    Response response = formats.isEmpty() ? html(404, pages::notFound(extension))
                                          : html(200, render(extension, formats));
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    response.headers.emplaceBack("Server-Timing",
                                 "page;dur=" + QByteArray::number(elapsed.count()));
    return response;
}

Response page(const QByteArray& path) {
    QString extension;
    if (matchLookup(path, "/filefound/", ".html", &extension)) {
        return lookupPage(extension, pages::compact);
    }
    if (matchLookup(path, "/soso/", ".htm", &extension)) {
        return lookupPage(extension, pages::full);
    }
    if (path == "/") {
        return html(200, pages::home());
    }
    if (path == "/style.css") {
        Response response{200, {{"Content-Type", "text/css; charset=utf-8"}}, pages::styleSheet()};
        response.headers.emplaceBack("Cache-Control", "public, max-age=3600");
        return response;
    }
    return html(404, pages::noSuchPage());
}

Response route(const Request& request, int port) {
    if (hasAmbiguousFraming(request)) {
        Response response = bare(400);
        response.closeConnection = true;
        return response;
    }
    if (!isOwnHost(request.header("Host"), port)) {
        return bare(421);
    }
    if (isForeignFetch(request, port)) {
        return bare(403);
    }
    if (request.method != "GET" && request.method != "HEAD") {
        // Whatever body follows is never read.
        Response response = bare(405);
        response.headers.emplaceBack("Allow", "GET, HEAD");
        response.closeConnection = true;
        return response;
    }
    if (request.path.size() > maxTargetLength) {
        return bare(414);
    }
    return page(request.path);
}

} // namespace

Response respond(const Request& request, int port) {
    return withSecurityHeaders(route(request, port));
}

} // namespace routes

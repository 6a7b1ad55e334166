#include "policy.h"

#include "addresses.h"
#include "sitelog.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace policy {
namespace {

using http::Request;
using http::Response;

// Pages load nothing but the site's own style sheet and images, and are never
// framed by anyone.
constexpr const char* contentSecurityPolicy =
    "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
    "base-uri 'none'; frame-ancestors 'none'";

Response bare(int status) {
    Response response;
    response.status = status;
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
    if (request.header("Sec-Fetch-Mode") == "navigate") {
        return isFromElsewhere(request) && isNested(request.header("Sec-Fetch-Dest"));
    }
    if (isFromElsewhere(request)) {
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

bool isToken(QByteArrayView text) {
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

} // namespace

bool isFromElsewhere(const Request& request) {
    const QByteArray site = request.header("Sec-Fetch-Site");
    return site == "cross-site" || site == "same-site";
}

Response withSecurityHeaders(Response response) {
    response.headers.emplaceBack("X-Content-Type-Options", "nosniff");
    response.headers.emplaceBack("Content-Security-Policy", contentSecurityPolicy);
    response.headers.emplaceBack("Referrer-Policy", "no-referrer");
    return response;
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
    // Two hosts leave in doubt which site was asked for.
    if (request.headerCount("Host") > 1) {
        return bare(400);
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

namespace {

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

QString refusalReason(int status) {
    using sitelog::say;
    switch (status) {
    case 421:
        return say("Host 不是本站", "the Host is not this site");
    case 403:
        return say("别的网站发起的请求", "asked from another site");
    case 405:
        return say("方法不受理", "method not taken");
    case 414:
        return say("地址或搜索词过长", "address or search too long");
    case 501:
        return say("不认识的传输编码", "unknown transfer coding");
    default:
        return say("请求头有歧义或不合格式", "ambiguous or malformed header");
    }
}

} // namespace

void logRefusal(const Request& request, int status) {
    const auto shown = [](const QByteArray& sent) {
        return QString::fromLatin1(loggable(sent));
    };
    qCDebug(lcHttp, "%s",
            qUtf8Printable(
                sitelog::say("拒绝 %1（%2）：%3 %4，Host: %5", "refused %1 (%2): %3 %4, Host: %5")
                    .arg(QString::number(status), refusalReason(status), shown(request.method),
                         shown(request.path), shown(request.header("Host")))));
}

} // namespace policy

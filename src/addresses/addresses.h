#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>
#include <optional>

// How the lookup site's pages are addressed, and which port and host an
// address means. The app builds these addresses, the site answers them and
// the export writes them out as files, so all three read them from here.
namespace addresses {

// The two pages for an extension: the compact one the app's pane shows and
// the full one a browser is sent to.
enum class Page { Lookup, Search };

// The text as exactly one path segment: every character outside A-Z, a-z,
// 0-9 and "-._~" is percent-encoded as UTF-8, an unpaired surrogate as U+FFFD.
QString encodeSegment(QStringView text);

// "/filefound/<extension>.html" or "/soso/<extension>.htm", encoded.
QString pagePath(Page page, QStringView extension);
// The same page in an exported copy of the site, relative to its root and
// not encoded: a web server decodes the path back to this file name.
QString pageFile(Page page, const QString& extension);
// The folder a page's files are in, at the site's root: "filefound" or "soso".
QString pageFolder(Page page);
// The query a lookup page takes for a file: "type=<MIME type>&notice=<kinds>",
// the kinds comma-separated, each field left out when empty.
QString fileQuery(const QString& type, const QStringList& notices);
inline constexpr char typeField[] = "type";
inline constexpr char noticeField[] = "notice";
// The forum's and the site's home: "/".
QString rootPath();
// The page that says what the site is.
inline constexpr char aboutPath[] = "/about.html";

// Whether a text has the form of a media type, "top/sub" in HTTP's token
// characters, and so cannot carry a sentence of someone else's.
bool isMediaType(QStringView text);

// What a request to the site asks for, read from its path and query once,
// where it comes in: the route, the page cache's key and the page all take
// this value, and nothing reads the path again.
enum class Asked {
    Home,      // "/"
    Style,     // "/style.css"
    About,     // "/about.html", what the site is
    Icon,      // "/icons/..."
    SearchBox, // "/search?ext=<text>", the search box's form
    Lookup,    // a lookup page, compact or full
    Action,    // "/action/...", which only the app carries out
    Other,     // anything else: no page
};
struct SiteRequest {
    Asked asked = Asked::Other;
    Page page = Page::Lookup; // a lookup's form
    // A lookup's extension or word, or the search box's text, percent-decoded
    // once, as typed: the site normalises it with what it knows of extensions.
    QString text;
    // What the app found in a file it was given: a media type (anything else
    // is dropped) and the codes of the notices its name calls for, unchecked.
    QString fileType;
    QStringList notices;

    bool isFile() const {
        return asked == Asked::Lookup && (!fileType.isEmpty() || !notices.isEmpty());
    }
};
using QueryField = std::pair<QByteArray, QByteArray>;
// The query's fields still percent-encoded, as the HTTP layer leaves them.
SiteRequest siteRequestOf(QByteArrayView path, const QList<QueryField>& query);

// The page a request path names, its extension percent-decoded exactly once
// and possibly empty; nothing for any other path.
struct PageRequest {
    Page page;
    QString extension;
};
std::optional<PageRequest> pageOf(QByteArrayView path);

// The root's address with the path and query appended; every byte that could
// mean anything to a URL parser is already escaped, so parsing is strict.
QUrl under(const QString& root, const QString& pathAndQuery);

// What a button on a page of the user's own site asks the app to do. The
// site writes these links only on the pages it serves to its own user's app,
// never in an export or a public page; the app acts on one only when it is
// clicked in the main frame of such a page. A link carries names, never a
// file's path: the app knows which file its page is about.
enum class Action {
    Open,       // open the page's file with `program`
    SetDefault, // make `program` the default for `type`
    Install,    // install `package` (its catalog component, where known)
};
struct ActionRequest {
    Action action;
    QString program;   // a desktop file id: "org.gnome.Evince.desktop"
    QString type;      // a MIME type: "application/pdf"
    QString package;   // a Debian package name
    QString component; // an AppStream component id
};
// "/action/open?program=...", "/action/default?program=...&type=...",
// "/action/install?package=...&component=...".
QString actionPath(const ActionRequest& request);
// The action a path and query name, each field checked against its own
// syntax; nothing for anything else, a missing field or a stray one.
std::optional<ActionRequest> actionOf(const QUrl& address);
// Whether a path is in the folder reserved for actions, valid or not: the
// site answers none of them, the app loads none of them.
bool isActionPath(QStringView path);

// The port a scheme implies when an address names none.
quint16 defaultPort(QStringView scheme);
quint16 portOf(const QUrl& address);

// Whether an address leads to this machine's loopback interface: localhost,
// 127.0.0.0/8 or ::1, also as an IPv4-mapped IPv6 address.
bool isLoopback(const QUrl& address);

// Whether an HTTP Host value names the site on loopback at this port: by
// address or as localhost, with the port or, for the port plain http implies,
// without it. The site speaks no TLS, so no other scheme's port is implied.
bool isLoopbackHost(QByteArrayView host, quint16 port);

// This user's own port for a site whose configured port is held by another
// user: in the thousand ports just above the configured one (just below it
// when that would pass 65535), picked by the uid modulo 1000. Users with
// consecutive uids get distinct ports; two whose uids differ by a multiple of
// 1000 share one, and the second is told so.
quint16 fallbackPort(quint16 configured, uint uid);

} // namespace addresses

#include "addresses.h"

#include <QHash>
#include <QRegularExpression>
#include <QUrlQuery>
#include <algorithm>

namespace addresses {
namespace {

// Qt's UTF-8 encoder writes an unpaired surrogate as a question mark; the
// address carries U+FFFD for it instead, as browsers do.
QString withUnpairedSurrogatesReplaced(QStringView text) {
    QString out = text.toString();
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate()) {
            ++i;
        } else if (out[i].isSurrogate()) {
            out[i] = QChar::ReplacementCharacter;
        }
    }
    return out;
}

struct Form {
    QLatin1String directory;
    QLatin1String suffix;
};

Form formOf(Page page) {
    return page == Page::Lookup ? Form{QLatin1String("filefound"), QLatin1String(".html")}
                                : Form{QLatin1String("soso"), QLatin1String(".htm")};
}

} // namespace

QString pageFolder(Page page) {
    return formOf(page).directory;
}

namespace {

std::optional<QString> extensionIn(QByteArrayView path, Page page) {
    const Form form = formOf(page);
    const QByteArray prefix = '/' + QByteArray(form.directory.data(), form.directory.size()) + '/';
    const QByteArrayView suffix(form.suffix.data(), form.suffix.size());
    if (!path.startsWith(prefix) || !path.endsWith(suffix) ||
        path.size() < prefix.size() + suffix.size()) {
        return std::nullopt;
    }
    const QByteArrayView encoded =
        path.sliced(prefix.size(), path.size() - prefix.size() - suffix.size());
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded.toByteArray()));
}

// A host as QUrl leaves it: IPv4 in dotted decimal, IPv6 compressed, lower case.
bool isLoopbackIPv4(QStringView host) {
    const QList<QStringView> parts = host.split(u'.');
    if (parts.size() != 4) {
        return false;
    }
    for (QStringView part : parts) {
        bool number = false;
        if (part.isEmpty() || part.toUInt(&number) > 255 || !number) {
            return false;
        }
    }
    return parts.front() == u"127";
}

} // namespace

QString encodeSegment(QStringView text) {
    return QString::fromLatin1(withUnpairedSurrogatesReplaced(text).toUtf8().toPercentEncoding());
}

QString pagePath(Page page, QStringView extension) {
    const Form form = formOf(page);
    return QStringLiteral("/") + form.directory + u'/' + encodeSegment(extension) + form.suffix;
}

QString pageFile(Page page, const QString& extension) {
    const Form form = formOf(page);
    return QString(form.directory) + u'/' + extension + form.suffix;
}

QString fileQuery(const QString& type, const QStringList& notices) {
    QStringList fields;
    if (!type.isEmpty()) {
        fields << QLatin1String(typeField) + u'=' +
                      QString::fromLatin1(type.toUtf8().toPercentEncoding("/"));
    }
    if (!notices.isEmpty()) {
        fields << QLatin1String(noticeField) + u'=' + encodeSegment(notices.join(u','));
    }
    return fields.join(u'&');
}

QString rootPath() {
    return QStringLiteral("/");
}

bool isMediaType(QStringView text) {
    const auto isToken = [](QStringView part) {
        static constexpr QStringView punctuation = u"!#$%&'*+-.^_`|~";
        return !part.isEmpty() && part.size() <= 127 &&
               std::all_of(part.begin(), part.end(), [](QChar c) {
                   return (c.unicode() < 128 && c.isLetterOrNumber()) || punctuation.contains(c);
               });
    };
    const qsizetype slash = text.indexOf(u'/');
    return slash > 0 && isToken(text.first(slash)) && isToken(text.sliced(slash + 1));
}

namespace {

QString decodedField(QByteArray encoded, bool plusIsBlank) {
    if (plusIsBlank) {
        encoded.replace('+', ' ');
    }
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
}

Asked fixedAsked(QByteArrayView path) {
    if (path == "/") {
        return Asked::Home;
    }
    if (path == "/style.css") {
        return Asked::Style;
    }
    if (path == aboutPath) {
        return Asked::About;
    }
    if (path.startsWith("/icons/")) {
        return Asked::Icon;
    }
    if (path == "/search") {
        return Asked::SearchBox;
    }
    return isActionPath(QString::fromLatin1(path)) ? Asked::Action : Asked::Other;
}

void readFile(SiteRequest& request, const QList<QueryField>& query) {
    for (const auto& [name, value] : query) {
        const QString text = decodedField(value, false).trimmed();
        if (name == typeField && isMediaType(text)) {
            request.fileType = text;
        } else if (name == noticeField) {
            for (const QString& code : text.split(u',', Qt::SkipEmptyParts)) {
                if (!request.notices.contains(code)) {
                    request.notices << code;
                }
            }
        }
    }
}

} // namespace

SiteRequest siteRequestOf(QByteArrayView path, const QList<QueryField>& query) {
    SiteRequest request;
    if (const std::optional<PageRequest> page = pageOf(path)) {
        request.asked = Asked::Lookup;
        request.page = page->page;
        request.text = page->extension;
        if (page->page == Page::Lookup) {
            readFile(request, query);
        }
        // A page for no extension at all is none, unless a file without one
        // is what the app asks about.
        if (request.text.isEmpty() && !request.isFile()) {
            request.asked = Asked::Other;
        }
        return request;
    }
    request.asked = fixedAsked(path);
    if (request.asked == Asked::SearchBox) {
        for (const auto& [name, value] : query) {
            if (name == "ext") {
                request.text = decodedField(value, true);
            }
        }
    }
    return request;
}

std::optional<PageRequest> pageOf(QByteArrayView path) {
    for (const Page page : {Page::Lookup, Page::Search}) {
        if (std::optional<QString> extension = extensionIn(path, page)) {
            return PageRequest{page, *extension};
        }
    }
    return std::nullopt;
}

QUrl under(const QString& root, const QString& pathAndQuery) {
    return QUrl(root + pathAndQuery, QUrl::StrictMode);
}

namespace {

constexpr QStringView actionFolder = u"/action/";

struct ActionForm {
    Action action;
    QStringView name;
};
constexpr ActionForm actionForms[] = {
    {Action::Open, u"open"},
    {Action::SetDefault, u"default"},
    {Action::Install, u"install"},
};

// Each field as narrow as what it names, so nothing else rides along. A
// pattern is compiled once per thread: the site checks every link it writes.
bool matches(const QString& value, const char* pattern) {
    thread_local QHash<const char*, QRegularExpression> compiled;
    auto found = compiled.constFind(pattern);
    if (found == compiled.cend()) {
        found = compiled.insert(pattern, QRegularExpression(QRegularExpression::anchoredPattern(
                                             QLatin1String(pattern))));
    }
    return found->match(value).hasMatch();
}
bool isProgram(const QString& id) {
    return matches(id, "[A-Za-z0-9_][A-Za-z0-9_.-]{0,200}\\.desktop");
}
bool isPackage(const QString& name) {
    return matches(name, "[a-z0-9][a-z0-9+.-]{1,99}");
}
bool isComponent(const QString& id) {
    return matches(id, "[A-Za-z0-9_][A-Za-z0-9_.-]{0,200}");
}

QStringList fieldsOf(Action action) {
    switch (action) {
    case Action::Open:
        return {QStringLiteral("program")};
    case Action::SetDefault:
        return {QStringLiteral("program"), QStringLiteral("type")};
    case Action::Install:
        return {QStringLiteral("package"), QStringLiteral("component")};
    }
    return {};
}

QString& fieldOf(ActionRequest& request, const QString& name) {
    if (name == u"program") {
        return request.program;
    }
    if (name == u"type") {
        return request.type;
    }
    return name == u"package" ? request.package : request.component;
}

bool isValid(const ActionRequest& request) {
    switch (request.action) {
    case Action::Open:
        return isProgram(request.program);
    case Action::SetDefault:
        return isProgram(request.program) && isMediaType(request.type);
    case Action::Install:
        return isPackage(request.package) &&
               (request.component.isEmpty() || isComponent(request.component));
    }
    return false;
}

} // namespace

QString actionPath(const ActionRequest& request) {
    QString name;
    for (const ActionForm& form : actionForms) {
        if (form.action == request.action) {
            name = form.name.toString();
        }
    }
    QStringList query;
    ActionRequest copy = request;
    for (const QString& field : fieldsOf(request.action)) {
        const QString& value = fieldOf(copy, field);
        if (!value.isEmpty()) {
            query << field + u'=' + QString::fromLatin1(value.toUtf8().toPercentEncoding("/"));
        }
    }
    return actionFolder.toString() + name + u'?' + query.join(u'&');
}

std::optional<ActionRequest> actionOf(const QUrl& address) {
    const QString path = address.path(QUrl::FullyEncoded);
    if (!path.startsWith(actionFolder) || address.hasFragment()) {
        return std::nullopt;
    }
    const QStringView name = QStringView(path).sliced(actionFolder.size());
    std::optional<ActionRequest> request;
    for (const ActionForm& form : actionForms) {
        if (name == form.name) {
            request = ActionRequest{form.action, {}, {}, {}, {}};
        }
    }
    if (!request) {
        return std::nullopt;
    }
    const QStringList allowed = fieldsOf(request->action);
    QStringList seen;
    for (const auto& [key, value] : QUrlQuery(address).queryItems(QUrl::FullyDecoded)) {
        if (!allowed.contains(key) || seen.contains(key)) {
            return std::nullopt;
        }
        seen << key;
        fieldOf(*request, key) = value;
    }
    return isValid(*request) ? request : std::nullopt;
}

bool isActionPath(QStringView path) {
    return path.startsWith(actionFolder) || path == actionFolder.chopped(1);
}

quint16 defaultPort(QStringView scheme) {
    return scheme.compare(u"https", Qt::CaseInsensitive) == 0 ? 443 : 80;
}

quint16 portOf(const QUrl& address) {
    return quint16(address.port(defaultPort(address.scheme())));
}

bool isLoopback(const QUrl& address) {
    const QString host = address.host();
    constexpr QStringView mapped = u"::ffff:";
    return host == u"localhost" || host == u"::1" || isLoopbackIPv4(host) ||
           (host.startsWith(mapped) && isLoopbackIPv4(QStringView(host).sliced(mapped.size())));
}

bool isLoopbackHost(QByteArrayView host, quint16 port) {
    const QByteArray suffix = ':' + QByteArray::number(port);
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
        const QByteArray withPort = name + suffix;
        if (host.compare(withPort, Qt::CaseInsensitive) == 0 ||
            (port == defaultPort(u"http") && host.compare(name, Qt::CaseInsensitive) == 0)) {
            return true;
        }
    }
    return false;
}

quint16 fallbackPort(quint16 configured, uint uid) {
    const int first = configured <= 65535 - 1000 ? configured + 1 : configured - 1000;
    return quint16(first + int(uid % 1000));
}

} // namespace addresses

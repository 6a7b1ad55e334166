#include "commandline.h"
#include "exporter.h"
#include "owndata.h"
#include "http.h"
#include "knowledge.h"
#include "mimedirs.h"
#include "publication.h"
#include "restart.h"
#include "routes.h"
#include "sitelog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The port is written once, in the top CMakeLists.txt; the help text spells it.
constexpr int defaultPort = QUELVIX_DEFAULT_PORT;
#define QUELVIX_TEXT_OF(number) #number
#define QUELVIX_TEXT(number) QUELVIX_TEXT_OF(number)
#define DEFAULT_PORT_TEXT QUELVIX_TEXT(QUELVIX_DEFAULT_PORT)

// Every open connection is a descriptor: the soft limit, often 1024, would
// turn clients away long before the connection limit does.
int raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    getrlimit(RLIMIT_NOFILE, &limit);
    return int(std::min<rlim_t>(limit.rlim_cur, 1 << 16));
}

http::Limits limitsForThisMachine() {
    http::Limits limits;
    limits.threads = int(std::max(2u, std::thread::hardware_concurrency()));
    // Room for the listening socket, the databases' files and the threads' own.
    limits.connections = std::max(16, std::min(16384, raiseDescriptorLimit() - 64));
    return limits;
}

// Blocks until SIGINT or SIGTERM; the server's threads must not take them.
void blockStopSignals(sigset_t* set) {
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, set, nullptr);
}

using sitelog::readsChinese;
using sitelog::say;

// The file this process runs from, as it was at start: removing or upgrading
// the package takes it away or puts another file in its place.
class OwnExecutable {
public:
    OwnExecutable()
        : m_path(linkTarget()) {
        m_known = !m_path.isEmpty() && stat(m_path.constData(), &m_start) == 0;
    }

    bool isGone() const {
        if (!m_known) {
            return false;
        }
        struct stat now {};
        return linkTarget().endsWith(" (deleted)") || stat(m_path.constData(), &now) != 0 ||
               now.st_dev != m_start.st_dev || now.st_ino != m_start.st_ino;
    }

private:
    static QByteArray linkTarget() {
        char target[PATH_MAX];
        const ssize_t length = readlink("/proc/self/exe", target, sizeof target);
        return length > 0 ? QByteArray(target, length) : QByteArray();
    }

    QByteArray m_path;
    struct stat m_start {};
    bool m_known = false;
};

// The line a starter waiting on --ready-fd reads: "ready <port>" once the
// site listens, or "error <why>" when it will not. The pipe is closed after
// it, so a starter also learns of a site that ends without a word.
class ReadyLine {
public:
    // Only a pipe or socket open for writing is taken: a number given by
    // mistake must not have the line written into a file.
    bool take(const QString& value) {
        bool ok = false;
        const int fd = value.toInt(&ok);
        struct stat about {};
        const int flags = ok && fd >= 0 ? fcntl(fd, F_GETFL) : -1;
        if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || fstat(fd, &about) != 0 ||
            !(S_ISFIFO(about.st_mode) || S_ISSOCK(about.st_mode))) {
            return false;
        }
        // Nothing the site starts, itself included when it starts over, inherits it.
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        m_fd = fd;
        return true;
    }

    void ready(int port) { say("ready " + QByteArray::number(port)); }
    void failed(const QString& why) { say("error " + why.simplified().toUtf8()); }

private:
    // A starter that has gone away must not end the site: the write fails
    // instead of raising SIGPIPE, which is ignored from the start.
    void say(const QByteArray& line) {
        if (m_fd < 0) {
            return;
        }
        const QByteArray whole = line + '\n';
        [[maybe_unused]] const ssize_t written = write(m_fd, whole.constData(), whole.size());
        close(m_fd);
        m_fd = -1;
    }

    int m_fd = -1;
};

// Until SIGINT or SIGTERM, until no request came for the idle limit (if there
// is one), or until the program file is gone, so the next lookup starts the
// one now installed.
void waitForStop(const sigset_t& stopSignals, std::chrono::seconds idleLimit,
                 const routes::Site& site, const OwnExecutable& executable) {
    const timespec second{1, 0};
    while (sigtimedwait(&stopSignals, nullptr, &second) < 0) {
        if (executable.isGone()) {
            std::fprintf(stderr, "quelvix-site: %s\n",
                         qPrintable(say("程序文件已被删除或替换，退出",
                                        "the program file was removed or replaced; exiting")));
            return;
        }
        if (idleLimit.count() > 0 &&
            std::chrono::steady_clock::now() - site.lastRequest() >= idleLimit) {
            return;
        }
    }
}

struct Option {
    QStringList names;
    const char* value[2]; // the value's name, Chinese and English; none for a switch
    const char* help[2];
};

const Option options[] = {
    {{"h", "help", "?"}, {}, {"显示本帮助并退出。", "Show this help and exit."}},
    {{"v", "version"}, {}, {"显示版本并退出。", "Show the version and exit."}},
    {{"port"},
     {"端口", "port"},
     {"在 <端口> 上监听（默认 " DEFAULT_PORT_TEXT "；0 为任一空闲端口，启动时打印）。",
      "Listen on <port> (default " DEFAULT_PORT_TEXT "; 0: any free port, printed at start)."}},
    {{"catalog"},
     {"目录", "dir"},
     {"从 <目录>（含 yaml/ 和 icons/）读软件目录，不读系统的。",
      "Read the software catalog from <dir> (yaml/ and icons/) instead of the system's."}},
    {{"public"},
     {},
     {"只提供公开页面：不谈本机装了哪些程序，对任何主机名都应答。",
      "Serve the public pages only: nothing about this machine's installed programs, to any "
      "host name."}},
    {{"export"},
     {"目录", "dir"},
     {"把公开页面写成静态文件放进 <目录>，然后退出。",
      "Write the public pages into <dir> as static files and exit."}},
    {{"public-root"},
     {"地址", "url"},
     {"导出时给出网站的地址（http 或 https），以写 sitemap.xml、robots.txt、opensearch.xml "
      "和绝对地址。",
      "With --export: the site's address (http or https), for sitemap.xml, robots.txt, "
      "opensearch.xml and absolute addresses."}},
    {{"jobs"},
     {"n", "n"},
     {"导出时用 <n> 个线程（默认每个处理器核心一个）。",
      "Export with <n> threads (default: one per core)."}},
    {{"exit-when-idle"},
     {"秒数", "seconds"},
     {"<秒数> 内没有请求就结束（默认一直运行，直到被停止）。",
      "End after <seconds> without a request (default: run until stopped)."}},
    {{"ready-fd"},
     {"描述符", "fd"},
     {"监听后往描述符 <描述符>（管道）写一行 \"ready <端口>\"，无法监听时写 \"error "
      "<原因>\"，然后关闭它。",
      "Once listening, write \"ready <port>\" to descriptor <fd> (a pipe), or \"error <why>\" "
      "when the site cannot listen, then close it."}},
    {{"verbose"},
     {},
     {"日志里也记下细节，例如每个被拒绝的请求。",
      "Log the details too, such as each request turned away."}},
};

// Columns a text takes in a terminal: Chinese characters take two.
int columns(const QString& text) {
    int width = 0;
    for (const QChar c : text) {
        width += c.unicode() >= 0x1100 ? 2 : 1;
    }
    return width;
}

QString helpText() {
    const int language = readsChinese() ? 0 : 1;
    QString text =
        say("用法：quelvix-site [选项]\n本机的查询站点，只在 127.0.0.1 和 ::1 上应答。\n\n选项：\n",
            "Usage: quelvix-site [options]\nThe local lookup site on 127.0.0.1 and ::1.\n\n"
            "Options:\n");
    for (const Option& option : options) {
        QStringList names;
        for (const QString& name : option.names) {
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        }
        QString left = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (option.value[language]) {
            left += QStringLiteral(" <%1>").arg(QString::fromUtf8(option.value[language]));
        }
        left += QString(std::max(2, 28 - columns(left)), QLatin1Char(' '));
        text += left + QString::fromUtf8(option.help[language]) + QLatin1Char('\n');
    }
    return text;
}

void addOptions(QCommandLineParser* parser) {
    for (const Option& option : options) {
        parser->addOption(option.value[1] ? QCommandLineOption(option.names, QString(),
                                                               QString::fromUtf8(option.value[1]))
                                          : QCommandLineOption(option.names));
    }
}

// While the site is about to start over: the person's page asks again in a
// second, when the site answers afresh.
http::Response restarting() {
    http::Response response{503,
                            {{"Content-Type", "text/plain; charset=utf-8"},
                             {"X-Content-Type-Options", "nosniff"},
                             {"Cache-Control", "no-store"},
                             {"Retry-After", "1"},
                             {"Refresh", "1"}},
                            "查询站点正在重新读取本机的数据，一秒后自动重试。\n"};
    response.closeConnection = true;
    return response;
}

// An export is a command whose output is its progress and its errors; the
// site's own log says what happens to it as it runs.
void chooseLogDetail(const QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("verbose"))) {
        sitelog::setDetail(sitelog::Detail::Verbose);
    } else {
        sitelog::setDetail(parser.isSet(QStringLiteral("export")) ? sitelog::Detail::Quiet
                                                                  : sitelog::Detail::Normal);
    }
}

int usageError(ReadyLine& readyLine, const QString& why) {
    readyLine.failed(why);
    std::fprintf(stderr, "quelvix-site: %s\n\n%s", qPrintable(why), qPrintable(helpText()));
    return 2;
}

// A site that starts over has no starter waiting and no longer holds the
// pipe: it is started without --ready-fd.
restart::Restarter restarterFor(int argc, char* argv[]) {
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--ready-fd" && i + 1 < argc) {
            ++i;
        } else if (!argument.starts_with("--ready-fd=")) {
            kept.push_back(argv[i]);
        }
    }
    return restart::Restarter(int(kept.size()), kept.data());
}

// What main makes before anything else, for the rooms it wires.
struct Start {
    std::vector<int> inherited; // listening sockets a restart handed on
    restart::Restarter& restarter;
    mimedirs::DataDirs& dataDirs;
    const OwnExecutable& executable;
};

// What the command line asks for, once read.
struct Settings {
    int port = defaultPort;
    std::chrono::seconds idleLimit{0}; // none: run until stopped
    QString catalogDir;
    bool isPublic = false;
    bool exports = false; // else serve
    QString exportDir;
    exporter::Options exporting;
};

// Why the command line cannot be served, or nothing when it can; the ready
// line is taken here, so that every later refusal reaches its starter too.
QString refusal(const QCommandLineParser& parser, ReadyLine& readyLine) {
    const auto isSet = [&parser](const char* name) {
        return parser.isSet(QLatin1String(name));
    };
    if (isSet("ready-fd") && !readyLine.take(parser.value(QStringLiteral("ready-fd")))) {
        return say("--ready-fd 须是一个可写的管道的描述符",
                   "--ready-fd takes the number of a pipe open for writing");
    }
    if (isSet("ready-fd") && isSet("export")) {
        return say("--ready-fd 只用于提供页面，不用于导出",
                   "--ready-fd is for serving, not for an export");
    }
    if (isSet("public-root") && !isSet("export")) {
        return say("--public-root 只用于导出（--export）",
                   "--public-root is for an export (--export)");
    }
    if (!parser.positionalArguments().isEmpty()) {
        return say("不接受参数 %1", "unexpected argument %1")
            .arg(parser.positionalArguments().join(QLatin1Char(' ')));
    }
    return {};
}

// What an export is asked for, or why it is refused.
QString readExportValues(const QCommandLineParser& parser, Settings* settings) {
    exporter::Options& exporting = settings->exporting;
    exporting.jobs = parser.isSet(QStringLiteral("jobs"))
                         ? parser.value(QStringLiteral("jobs")).toInt()
                         : int(std::max(1u, std::thread::hardware_concurrency()));
    if (exporting.jobs < 1 || exporting.jobs > 256) {
        return say("--jobs 须是 1 到 256 的数", "--jobs takes a number from 1 to 256");
    }
    exporting.chinese = readsChinese();
    return parser.isSet(QStringLiteral("public-root"))
               ? publication::parseRoot(parser.value(QStringLiteral("public-root")), readsChinese(),
                                        &exporting.publicRoot)
               : QString();
}

// The values of the options, or why one is refused.
QString readValues(const QCommandLineParser& parser, Settings* settings) {
    bool ok = true;
    if (parser.isSet(QStringLiteral("port"))) {
        settings->port = parser.value(QStringLiteral("port")).toInt(&ok);
    }
    if (!ok || settings->port < 0 || settings->port > 65535) {
        return say("端口须是 0 到 65535 的数", "the port must be a number from 0 to 65535");
    }
    if (parser.isSet(QStringLiteral("exit-when-idle"))) {
        settings->idleLimit =
            std::chrono::seconds(parser.value(QStringLiteral("exit-when-idle")).toInt(&ok));
        if (!ok || settings->idleLimit.count() < 1) {
            return say("--exit-when-idle 须是秒数", "--exit-when-idle takes a number of seconds");
        }
    }
    settings->catalogDir = parser.value(QStringLiteral("catalog"));
    settings->isPublic = parser.isSet(QStringLiteral("public"));
    settings->exports = parser.isSet(QStringLiteral("export"));
    settings->exportDir = parser.value(QStringLiteral("export"));
    return settings->exports ? readExportValues(parser, settings) : QString();
}

// The pages written out as files, for a public site; no server runs.
int exportPages(const Settings& settings, const Start& start) {
    qCInfo(lcExport, "导出公开页面到 %s，%d 个线程", qUtf8Printable(settings.exportDir),
           settings.exporting.jobs);
    for (const int fd : start.inherited) {
        close(fd);
    }
    routes::Site site({.catalogDir = settings.catalogDir,
                       .cache = false,
                       .watch = false,
                       .isPublic = true,
                       .dataDirs = &start.dataDirs});
    return exporter::exportTo(settings.exportDir, settings.exporting, site);
}

// A request may make GLib or Qt read a MIME database again: it is checked
// first. While a restart is coming nothing is read any more.
http::Handler answering(routes::Site& site, mimedirs::DataDirs& dataDirs) {
    return [&site, &dataDirs](const http::Request& request) {
        dataDirs.beforeReading();
        return dataDirs.restarter().isUnderway() ? restarting() : site.respond(request);
    };
}

int cannotListen(int port, int error, ReadyLine& readyLine) {
    QString why = say("无法在 127.0.0.1:%1 上监听", "cannot listen on 127.0.0.1:%1").arg(port);
    if (error != 0) {
        why += say("：", ": ") + QString::fromLocal8Bit(std::strerror(error));
    }
    readyLine.failed(why);
    std::fprintf(stderr, "quelvix-site: %s\n", qPrintable(why));
    return 1;
}

void announce(int port, const http::Limits& limits, ReadyLine& readyLine) {
    qCInfo(lcSite, "%s",
           qUtf8Printable(say("已启动：版本 %1，端口 %2，%3", "started: version %1, port %2, %3")
                              .arg(QStringLiteral(QUELVIX_VERSION), QString::number(port),
                                   limits.anyUser ? say("公开站点，应答任何人",
                                                        "public site, answering anyone")
                                                  : say("本机站点，只应答本用户",
                                                        "local site, answering this user only"))));
    // The address last on the line: whoever starts the site reads it from there.
    std::printf("%s\n", qPrintable(say("查询站点地址：http://127.0.0.1:%1",
                                       "listening on http://127.0.0.1:%1")
                                       .arg(port)));
    std::fflush(stdout);
    readyLine.ready(port);
}

// Serves until told to stop (see waitForStop).
int serve(const Settings& settings, const Start& start, ReadyLine& readyLine) {
    sigset_t stopSignals;
    blockStopSignals(&stopSignals);
    // QUELVIX_SITE_CACHE=0 builds every page afresh, for measuring what the cache saves.
    routes::Site site({.port = settings.port,
                       .catalogDir = settings.catalogDir,
                       .cache = qgetenv("QUELVIX_SITE_CACHE") != "0",
                       .isPublic = settings.isPublic,
                       .dataDirs = &start.dataDirs});
    http::Limits limits = limitsForThisMachine();
    // A public site tells nothing about this machine, so anyone may ask it.
    limits.anyUser = settings.isPublic;
    http::Server server(answering(site, start.dataDirs), limits);
    errno = 0;
    const int bound = server.listen(settings.port, start.inherited);
    site.setPort(bound);
    if (bound < 0) {
        return cannotListen(settings.port, errno, readyLine);
    }
    start.restarter.keepPort(bound);
    start.restarter.keepListening(server.listeningSockets());
    site.sources().warmUp();
    announce(bound, limits, readyLine);
    waitForStop(stopSignals, settings.idleLimit, site, start.executable);
    return 0;
}

// Reads the command line and serves or exports as it asks.
int run(const Start& start) {
    ReadyLine readyLine;
    QCommandLineParser parser;
    addOptions(&parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(readyLine, identity::commandLineRefusal(parser, readsChinese()));
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(helpText()));
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("quelvix-site %s\n", QUELVIX_VERSION);
        return 0;
    }
    Settings settings;
    if (QString why = refusal(parser, readyLine);
        !why.isEmpty() || !(why = readValues(parser, &settings)).isEmpty()) {
        return usageError(readyLine, why);
    }
    chooseLogDetail(parser);
    knowledge::useSimplifiedChinese();
    return settings.exports ? exportPages(settings, start) : serve(settings, start, readyLine);
}

} // namespace

int main(int argc, char* argv[]) {
    // Before any thread or child: nothing else may inherit it.
    std::vector<int> inherited = restart::takeListening();
    sitelog::setUp();
    restart::Restarter restarter = restarterFor(argc, argv);
    // Before anything reads the XDG data directories; the site's own format
    // table first, so that its cache is checked too.
    owndata::putFirst();
    mimedirs::DataDirs dataDirs(restarter);
    dataDirs.leaveOutDamaged();
    std::signal(SIGPIPE, SIG_IGN);
    const OwnExecutable executable;
    QCoreApplication app(argc, argv);
    return run({std::move(inherited), restarter, dataDirs, executable});
}

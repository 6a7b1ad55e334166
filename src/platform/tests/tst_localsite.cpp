// Seeing to the local lookup site before an address on it is used: starting
// it, taking pages only from this user's own, and never holding up the loop.
#include "addresses.h"
#include "browserlauncher.h"
#include "fakes.h"
#include "localsite.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(platform::SiteProblem)

namespace {

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool isFree(quint16 port) {
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, port);
}

// A free port whose fallback for this user is free as well.
quint16 freePortAndFallback() {
    for (;;) {
        const quint16 port = freePort();
        if (port <= 64535 && isFree(addresses::fallbackPort(port, ::geteuid()))) {
            return port;
        }
    }
}

bool accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

QUrl lookupOn(quint16 port) {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/filefound/pdf.html").arg(port));
}

// The arguments the site is started with, less the pipe it is handed.
QStringList startArguments(quint16 port) {
    return {"--port", QString::number(port), "--exit-when-idle", "1800"};
}

bool handsAPipe(const QStringList& arguments, int keep) {
    return keep >= 0 && arguments.mid(4) == QStringList({"--ready-fd", QString::number(keep)});
}

// Starts the real site as the app would, but kept, so the test can end it.
struct KeptStarts {
    ~KeptStarts() {
        for (auto& site : sites) {
            site->kill();
            site->waitForFinished();
        }
    }
    std::vector<std::unique_ptr<QProcess>> sites;
    QStringList lastArguments;
    int lastKept = -1;

    platform::LocalSite::Starter starter() {
        return [this](const QString& program, const QStringList& arguments, int keep) {
            lastArguments = arguments;
            lastKept = keep;
            sites.push_back(std::make_unique<QProcess>());
            sites.back()->setChildProcessModifier([keep] {
                if (keep >= 0) {
                    ::fcntl(keep, F_SETFD, 0);
                }
            });
            sites.back()->start(program, arguments);
            return sites.back()->waitForStarted();
        };
    }
};

// A site played by the test: "started" when the starter is called, holding
// its copy of the pipe's write end as a started program would; it listens,
// says its line and ends when the test has it do so.
struct FakeSite {
    ~FakeSite() { end(); }
    QList<QStringList> starts;
    int pipe = -1;
    QTcpServer listener;

    platform::LocalSite::Starter starter() {
        return [this](const QString&, const QStringList& arguments, int keep) {
            starts << arguments;
            end();
            if (keep >= 0) {
                pipe = ::dup(keep);
            }
            return true;
        };
    }
    void say(const QByteArray& line) {
        QVERIFY(pipe >= 0);
        QCOMPARE(::write(pipe, line.constData(), size_t(line.size())), ssize_t(line.size()));
    }
    void end() {
        if (pipe >= 0) {
            ::close(pipe);
            pipe = -1;
        }
    }
};

// The answers of one LocalSite, as they arrive.
struct Answers {
    QList<platform::SiteAnswer> list;
    platform::LocalSite::Then then() {
        return [this](const platform::SiteAnswer& answer) {
            list.append(answer);
        };
    }
};

// A user other than this one, for sockets that must not be this user's:
// made for the tests when there is none yet.
std::optional<uid_t> otherUser() {
    const char* name = "quelvix-test";
    if (!::getpwnam(name)) {
        QProcess::execute(QStringLiteral("useradd"),
                          {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", name});
    }
    const passwd* user = ::getpwnam(name);
    return user ? std::optional<uid_t>(user->pw_uid) : std::nullopt;
}

// A listening socket of another user's, held by a child process that took
// that user's uid before making it.
// The launcher, with a browser that only records what it was handed and
// answers with the failure given.
struct RecordedBrowser {
    explicit RecordedBrowser(platform::LocalSite& site, std::optional<QString> failure = {})
        : launcher(site, messenger,
                   [this, failure](const QUrl& to, const platform::LateBrowserFailure&) {
                       opened << to;
                       return failure;
                   }) {}
    RecordingMessenger messenger;
    QList<QUrl> opened;
    platform::SiteBrowserLauncher launcher;
};

class ForeignListener {
public:
    ForeignListener(uid_t uid, const QString& address, quint16 port) {
        sockaddr_storage bound{};
        socklen_t length = 0;
        const QByteArray host = address.toLatin1();
        if (address.contains(QLatin1Char(':'))) {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&bound);
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(port);
            ::inet_pton(AF_INET6, host.constData(), &v6->sin6_addr);
            length = sizeof *v6;
        } else {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&bound);
            v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
            ::inet_pton(AF_INET, host.constData(), &v4->sin_addr);
            length = sizeof *v4;
        }
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        m_child = ::fork();
        if (m_child == 0) {
            ::close(ready[0]);
            // A socket belongs to the uid that made it, so the uid comes first.
            if (::setgid(uid) != 0 || ::setuid(uid) != 0) {
                ::_exit(1);
            }
            const int fd = ::socket(bound.ss_family, SOCK_STREAM, 0);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&bound), length) != 0 ||
                ::listen(fd, 16) != 0) {
                ::_exit(1);
            }
            const char ok = 1;
            (void)!::write(ready[1], &ok, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char ok = 0;
        m_listening = m_child > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
    }
    ~ForeignListener() {
        if (m_child > 0) {
            ::kill(m_child, SIGKILL);
            ::waitpid(m_child, nullptr, 0);
        }
    }
    bool listening() const { return m_listening; }

private:
    pid_t m_child = -1;
    bool m_listening = false;
};

} // namespace

class TestLocalSite : public QObject {
    Q_OBJECT

private slots:
    void startsTheSiteAndTheLookupArrives();
    void startsNoneWhenOneAnswers();
    void twoAtOnceShareOneSite();
    void aSiteThatCannotBeHadIsOneBox_data();
    void aSiteThatCannotBeHadIsOneBox();
    void startsOnTheSchemesDefaultPort();
    void addressesElsewhereNeedNoSite_data();
    void addressesElsewhereNeedNoSite();
    void siteEndsWhenIdle();
    void anotherUsersListenerIsPassedBy_data();
    void anotherUsersListenerIsPassedBy();
    void aPortThatAcceptsNothingHoldsUpNothing();
    void goesOnWhenTheSiteSaysItIsReady();
    void aSiteThatCannotStartIsReportedOnceWithItsReason_data();
    void aSiteThatCannotStartIsReportedOnceWithItsReason();
    void aSiteThatEndsWithoutAWordIsStartedAgainAndTried();
};

void TestLocalSite::startsTheSiteAndTheLookupArrives() {
    const quint16 port = freePort();
    KeptStarts starts;
    platform::LocalSite site(QStringLiteral(QUELVIX_SITE_BINARY), starts.starter());
    Answers answers;
    site.whenReady(lookupOn(port), answers.then());
    QVERIFY(answers.list.isEmpty()); // the event loop goes on while the site starts
    QTRY_COMPARE_WITH_TIMEOUT(answers.list.size(), 1, 3000);
    QCOMPARE(answers.list[0].address, lookupOn(port));
    QCOMPARE(answers.list[0].problem, platform::SiteProblem::None);
    QVERIFY(accepts(port));
    QCOMPARE(starts.sites.size(), size_t(1));
    QCOMPARE(starts.lastArguments.mid(0, 4), startArguments(port));
    QVERIFY(handsAPipe(starts.lastArguments, starts.lastKept));
}

void TestLocalSite::startsNoneWhenOneAnswers() {
    QTcpServer running;
    QVERIFY(running.listen(QHostAddress::LocalHost));
    KeptStarts starts;
    platform::LocalSite site(QStringLiteral(QUELVIX_SITE_BINARY), starts.starter());
    Answers answers;
    site.whenReady(lookupOn(running.serverPort()), answers.then());
    QTRY_COMPARE(answers.list.size(), 1);
    QCOMPARE(answers.list[0].address, lookupOn(running.serverPort()));
    QCOMPARE(answers.list[0].problem, platform::SiteProblem::None);
    QVERIFY(starts.sites.empty());
}

// Two apps starting at once both start a site; the second cannot have the
// port, ends, and both go on with the first.
void TestLocalSite::twoAtOnceShareOneSite() {
    const quint16 port = freePort();
    KeptStarts first;
    KeptStarts second;
    platform::LocalSite one(QStringLiteral(QUELVIX_SITE_BINARY), first.starter());
    platform::LocalSite other(QStringLiteral(QUELVIX_SITE_BINARY), second.starter());
    int reached = 0;
    one.whenReady(lookupOn(port), [&reached](const platform::SiteAnswer&) { ++reached; });
    other.whenReady(lookupOn(port), [&reached](const platform::SiteAnswer&) { ++reached; });
    QTRY_COMPARE_WITH_TIMEOUT(reached, 2, 3000);
    QVERIFY(accepts(port));
    QCOMPARE(first.sites.size(), size_t(1));
    if (second.sites.empty()) {
        return; // the first site answered before the second asked: started once
    }
    QProcess* a = first.sites.front().get();
    QProcess* b = second.sites.front().get();
    QTRY_VERIFY_WITH_TIMEOUT(
        a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning, 3000);
    QVERIFY(a->state() == QProcess::Running || b->state() == QProcess::Running);
    QProcess* ended = a->state() == QProcess::NotRunning ? a : b;
    QCOMPARE(ended->exitCode(), 1);
}

// A site that cannot be had: the browser would only say that nothing
// answers, so it is not handed the address; a box says why and what mends
// it, once for each request (the pane says the same on a page of its own,
// see the pane's tests). A failure of the browser itself is still reported,
// with the address.
void TestLocalSite::aSiteThatCannotBeHadIsOneBox_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<platform::SiteProblem>("problem");
    QTest::addColumn<QString>("fix");
    QTest::newRow("not installed: the package the project builds")
        << "" << platform::SiteProblem::Missing << "sudo apt-get install ./quelvix_*.deb";
    QTest::newRow("started, never answers")
        << "/opt/quelvix/quelvix-site" << platform::SiteProblem::NoAnswer
        << "/opt/quelvix/quelvix-site --port ";
}

void TestLocalSite::aSiteThatCannotBeHadIsOneBox() {
    QFETCH(QString, program);
    QFETCH(platform::SiteProblem, problem);
    QFETCH(QString, fix);
    const int wait = 300;
    platform::LocalSite site(
        program, [&](const QString&, const QStringList&, int) { return !program.isEmpty(); }, wait);
    const QUrl address = lookupOn(freePort());
    Answers answers;
    site.whenReady(address, answers.then());
    QTRY_COMPARE_WITH_TIMEOUT(answers.list.size(), 1, 3000);
    QCOMPARE(answers.list[0].problem, problem);
    QVERIFY2(answers.list[0].fix.contains(fix), qPrintable(answers.list[0].fix));

    RecordedBrowser browser(site, QStringLiteral("no browser"));
    auto& [messenger, opened, launcher] = browser;
    launcher.open(address);
    QTRY_COMPARE_WITH_TIMEOUT(messenger.messages.size(), 1, 3000);
    QVERIFY2(messenger.messages[0].text.contains(fix), qPrintable(messenger.messages[0].text));
    QCOMPARE(messenger.messages[0].address, address.toString());
    QVERIFY(messenger.messages[0].icon == platform::MessageIcon::Critical);
    // Nothing more once every wait is over.
    QTimer waitOver;
    waitOver.setSingleShot(true);
    QSignalSpy over(&waitOver, &QTimer::timeout);
    waitOver.start(wait * 3);
    QVERIFY(over.wait(wait * 6));
    QCOMPARE(messenger.messages.size(), 1);
    QVERIFY(opened.isEmpty());

    const QUrl elsewhere(QStringLiteral("https://lookup.example.org/soso/pdf.htm"));
    launcher.open(elsewhere);
    QCOMPARE(opened, QList<QUrl>{elsewhere});
    QCOMPARE(messenger.messages.size(), 2);
    QCOMPARE(messenger.messages[1].text, QStringLiteral("no browser"));
    QCOMPARE(messenger.messages[1].address, elsewhere.toString());
}

void TestLocalSite::startsOnTheSchemesDefaultPort() {
    QStringList asked;
    platform::LocalSite site(QStringLiteral("quelvix-site"),
                             [&asked](const QString&, const QStringList& arguments, int) {
                                 asked = arguments;
                                 return false;
                             });
    bool wentOn = false;
    site.whenReady(QUrl("https://127.0.0.1/"),
                   [&wentOn](const platform::SiteAnswer&) { wentOn = true; });
    QTRY_VERIFY(wentOn);
    if (asked.isEmpty()) {
        QSKIP("something answers on port 443 here");
    }
    QCOMPARE(asked.mid(0, 2), (QStringList{"--port", "443"}));
}

void TestLocalSite::addressesElsewhereNeedNoSite_data() {
    QTest::addColumn<QUrl>("address");
    QTest::addColumn<bool>("loopback");
    QTest::newRow("127.0.0.1") << QUrl("http://127.0.0.1:1/") << true;
    QTest::newRow("127.1.2.3") << QUrl("http://127.1.2.3:1/") << true;
    QTest::newRow("localhost") << QUrl("http://localhost:1/") << true;
    QTest::newRow("::1") << QUrl("http://[::1]:1/") << true;
    QTest::newRow("other host") << QUrl("https://lookup.example.org/") << false;
    QTest::newRow("private address") << QUrl("http://192.168.1.1/") << false;
    QTest::newRow("loopback-looking name") << QUrl("http://127.0.0.1.example.org/") << false;
}

void TestLocalSite::addressesElsewhereNeedNoSite() {
    QFETCH(QUrl, address);
    QFETCH(bool, loopback);
    QCOMPARE(addresses::isLoopback(address), loopback);
}

void TestLocalSite::siteEndsWhenIdle() {
    QProcess site;
    site.start(QStringLiteral(QUELVIX_SITE_BINARY),
               {"--port", QString::number(freePort()), "--exit-when-idle", "1"});
    QVERIFY(site.waitForStarted());
    QVERIFY(site.waitForFinished(5000));
    QCOMPARE(site.exitStatus(), QProcess::NormalExit);
    QCOMPARE(site.exitCode(), 0);
}

// Another user's program on the site's port could show anything under the
// app's name and would see every lookup: the site moves to this user's own
// port for the pane and the browser alike, or, with that taken too, nothing
// is shown or handed over.
void TestLocalSite::anotherUsersListenerIsPassedBy_data() {
    QTest::addColumn<QString>("bound");        // where the other user's listener is bound
    QTest::addColumn<bool>("ownPortTakenToo"); // by the other user as well
    QTest::newRow("127.0.0.1") << "127.0.0.1" << false;
    QTest::newRow("0.0.0.0") << "0.0.0.0" << false;
    QTest::newRow("::1") << "::1" << false;
    QTest::newRow(":: (both families)") << "::" << false;
    QTest::newRow("::ffff:127.0.0.1 (IPv4 as IPv6)") << "::ffff:127.0.0.1" << false;
    QTest::newRow("own port taken too") << "127.0.0.1" << true;
}

void TestLocalSite::anotherUsersListenerIsPassedBy() {
    QFETCH(QString, bound);
    QFETCH(bool, ownPortTakenToo);
    if (::geteuid() != 0) {
        QSKIP("not run: needs root to own a socket as another user");
    }
    const std::optional<uid_t> other = otherUser();
    QVERIFY2(other, "no other user could be made");

    const quint16 port = freePortAndFallback();
    const quint16 ownPort = addresses::fallbackPort(port, ::geteuid());
    ForeignListener theirs(*other, bound, port);
    QVERIFY(theirs.listening());
    std::optional<ForeignListener> theirsToo;
    if (ownPortTakenToo) {
        theirsToo.emplace(*other, bound, ownPort);
        QVERIFY(theirsToo->listening());
    }

    KeptStarts starts;
    platform::LocalSite site(QStringLiteral(QUELVIX_SITE_BINARY), starts.starter());
    Answers answers;
    site.whenReady(lookupOn(port), answers.then());
    QTRY_COMPARE_WITH_TIMEOUT(answers.list.size(), 1, 3000);

    RecordedBrowser browser(site);
    auto& [messenger, opened, launcher] = browser;
    const QUrl search(QStringLiteral("http://127.0.0.1:%1/soso/pdf.htm").arg(port));
    launcher.open(search);

    if (ownPortTakenToo) {
        QCOMPARE(answers.list[0].problem, platform::SiteProblem::Taken);
        QVERIFY(answers.list[0].what.contains(QString::number(ownPort)));
        QVERIFY(starts.sites.empty());
        QTRY_COMPARE(messenger.messages.size(), 1);
        QCOMPARE(messenger.messages[0].address, search.toString());
        QVERIFY(opened.isEmpty());
        return;
    }
    QUrl moved = lookupOn(port);
    moved.setPort(ownPort);
    QCOMPARE(answers.list[0].problem, platform::SiteProblem::None);
    QCOMPARE(answers.list[0].address, moved);
    QCOMPARE(starts.lastArguments.mid(0, 4), startArguments(ownPort));
    QVERIFY(accepts(ownPort));
    QUrl searchMoved = search;
    searchMoved.setPort(ownPort);
    QTRY_COMPARE(opened, QList<QUrl>{searchMoved});
    QVERIFY(messenger.messages.isEmpty());
    QCOMPARE(starts.sites.size(), size_t(1)); // the running site was found, not started again
}

// A listener whose queue is full drops every new connection unanswered. The
// wait for it runs on the event loop, which keeps turning meanwhile; then the
// pane is told the port is stuck.
void TestLocalSite::aPortThatAcceptsNothingHoldsUpNothing() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0);
    QVERIFY(::listen(listener, 0) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    const quint16 port = ntohs(address.sin_port);
    // Connections the listener never takes, until one is left unanswered.
    std::vector<std::unique_ptr<QTcpSocket>> queued;
    bool full = false;
    while (!full && queued.size() < 16) {
        queued.push_back(std::make_unique<QTcpSocket>());
        queued.back()->connectToHost(QHostAddress::LocalHost, port);
        full = !queued.back()->waitForConnected(300);
    }
    QVERIFY2(full, "the listener's queue never filled");

    bool started = false;
    platform::LocalSite site(
        QStringLiteral("quelvix-site"),
        [&started](const QString&, const QStringList&, int) { return started = true; }, 1000);
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    ticker.start(10);
    clock.start();
    Answers answers;
    site.whenReady(lookupOn(port), answers.then());
    QTRY_COMPARE_WITH_TIMEOUT(answers.list.size(), 1, 5000);
    ticker.stop();
    ::close(listener);

    QCOMPARE(answers.list[0].problem, platform::SiteProblem::PortStuck);
    QVERIFY(!started);               // the port is this user's: no second site is started beside it
    QVERIFY(clock.elapsed() >= 900); // the wait, less a coarse timer's leeway
    // A blocking wait for the connection would stop the ticks for as long.
    QVERIFY2(longestGap < 150, qPrintable(QStringLiteral("%1 ms without a tick").arg(longestGap)));
}

// A site that listens before it can answer, as one does while it reads its
// databases: the lookup goes on when the site says it is ready, not when its
// port first takes a connection.
void TestLocalSite::goesOnWhenTheSiteSaysItIsReady() {
    const quint16 port = freePort();
    FakeSite fake;
    platform::LocalSite site(QStringLiteral("quelvix-site"), fake.starter());
    bool said = false;
    QTimer::singleShot(10 * 25, [&] {
        QVERIFY(fake.listener.listen(QHostAddress::LocalHost, port)); // listening first
        QTimer::singleShot(10 * 25, [&] {
            fake.say("ready " + QByteArray::number(port) + '\n');
            said = true;
        });
    });
    std::optional<bool> answeredAfterTheWord;
    Answers answers;
    site.whenReady(lookupOn(port), [&](const platform::SiteAnswer& answer) {
        answeredAfterTheWord = said;
        answers.list << answer;
    });
    QTRY_VERIFY_WITH_TIMEOUT(answeredAfterTheWord.has_value(), 3000);
    QVERIFY(*answeredAfterTheWord);
    QCOMPARE(answers.list.size(), 1);
    QCOMPARE(answers.list[0].problem, platform::SiteProblem::None);
    QCOMPARE(fake.starts.size(), 1);
}

// The site's reason reaches the person once, from the browser command as
// from the pane, and no address is handed to a browser that could only show
// it failing.
void TestLocalSite::aSiteThatCannotStartIsReportedOnceWithItsReason_data() {
    QTest::addColumn<QByteArray>("said");
    QTest::addColumn<QString>("reason");
    QTest::newRow("port taken") << QByteArray("error 无法在 127.0.0.1:1 上监听：地址已在使用\n")
                                << QStringLiteral("无法在 127.0.0.1:1 上监听：地址已在使用");
    QTest::newRow("line cut off at the end")
        << QByteArray("error catalog unreadable") << QStringLiteral("catalog unreadable");
    QTest::newRow("control characters")
        << QByteArray("error bad\x1b[31m\tthing\n") << QStringLiteral("bad[31m thing");
}

void TestLocalSite::aSiteThatCannotStartIsReportedOnceWithItsReason() {
    QFETCH(QByteArray, said);
    QFETCH(QString, reason);
    const quint16 port = freePort();
    FakeSite fake;
    const int wait = 500;
    platform::LocalSite site(QStringLiteral("quelvix-site"), fake.starter(), wait);
    RecordedBrowser browser(site);
    auto& [messenger, opened, launcher] = browser;
    QTimer::singleShot(0, [&] {
        fake.say(said);
        fake.end();
    });
    const QUrl search(QStringLiteral("http://127.0.0.1:%1/soso/pdf.htm").arg(port));
    launcher.open(search);
    QTRY_COMPARE_WITH_TIMEOUT(messenger.messages.size(), 1, 3000);
    QVERIFY2(messenger.messages[0].text.contains(reason), qPrintable(messenger.messages[0].text));
    QCOMPARE(messenger.messages[0].address, search.toString());

    // Nothing more once the wait is over, when a site that said nothing is given up.
    QTimer waitOver;
    waitOver.setSingleShot(true);
    QSignalSpy over(&waitOver, &QTimer::timeout);
    waitOver.start(wait + 100);
    QVERIFY(over.wait(wait * 4));
    QCOMPARE(messenger.messages.size(), 1);
    QVERIFY(opened.isEmpty());
    QCOMPARE(fake.starts.size(), 1);
}

// An older site on PATH stops at --ready-fd as at any option it does not
// know: it is started again without it and its port tried.
void TestLocalSite::aSiteThatEndsWithoutAWordIsStartedAgainAndTried() {
    const quint16 port = freePort();
    FakeSite fake;
    platform::LocalSite site(QStringLiteral("quelvix-site"),
                             [&](const QString& program, const QStringList& arguments, int keep) {
                                 fake.starter()(program, arguments, keep);
                                 if (arguments.contains("--ready-fd")) {
                                     fake.end(); // unknown option: ends at once
                                 } else {
                                     fake.listener.close();
                                     fake.listener.listen(QHostAddress::LocalHost,
                                                          arguments[1].toUShort());
                                 }
                                 return true;
                             });
    Answers answers;
    site.whenReady(lookupOn(port), answers.then());
    QTRY_COMPARE_WITH_TIMEOUT(answers.list.size(), 1, 3000);
    QCOMPARE(answers.list[0].problem, platform::SiteProblem::None);
    QCOMPARE(fake.starts.size(), 2);
    QVERIFY(fake.starts[0].contains("--ready-fd"));
    QCOMPARE(fake.starts[1], startArguments(port));

    // And from then on, without it from the start.
    const quint16 next = freePort();
    site.whenReady(lookupOn(next), answers.then());
    QTRY_COMPARE_WITH_TIMEOUT(answers.list.size(), 2, 3000);
    QCOMPARE(fake.starts.size(), 3);
    QCOMPARE(fake.starts[2], startArguments(next));
}

QTEST_GUILESS_MAIN(TestLocalSite)
#include "tst_localsite.moc"

#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

namespace platform {

enum class SiteProblem {
    None,
    Missing,   // quelvix-site is neither beside this program nor on PATH
    NoAnswer,  // the site did not take the port within the wait, or stopped answering
    Failed,    // the site started and said why it cannot serve the port
    PortStuck, // something of this user's holds the port but completes no connection
    Taken,     // other users' programs hold both the port and this user's own
};

// Where an address leads once the local site has been seen to.
struct SiteAnswer {
    QUrl address; // the one to show or hand over; its port may be this user's own
    SiteProblem problem = SiteProblem::None;
    QString what = {}; // for a problem: what is wrong, in a sentence or two
    QString fix = {};  // and the one command that mends it
};

// The lookup site on this machine's loopback address, started when an
// address on it is about to be used and nothing of this user's answers there:
// the installed quelvix-site beside this program (else on PATH), detached and
// without a shell. It ends itself after 30 minutes without a request,
// outliving this program for the browser's pages.
//
// A site started here is handed a pipe (--ready-fd) and says on it when it
// listens, or why it cannot; a site that ends without a word is taken for an
// older one that does not know the option, and is started again without it
// and its port tried every 25 ms, as for any site that cannot be handed a
// pipe.
//
// Pages are only taken from a listener of this user's own. Another user's
// program on the port could show anything under the app's name and would see
// every lookup, so then the address moves to this user's own port (see
// addresses::fallbackPort) and the site is started there.
class LocalSite {
public:
    // Starts a program with arguments, detached, the descriptor `keep` open in
    // it unless it is -1; false when it could not.
    using Starter =
        std::function<bool(const QString& program, const QStringList& arguments, int keep)>;
    using Then = std::function<void(const SiteAnswer& answer)>;

    LocalSite();
    // The wait is spent on the event loop, and a site that fails says so at
    // once; only one that stays silent costs it all. On a busy machine a
    // first start can take seconds, which is no reason for an error box.
    LocalSite(QString program, Starter starter, int waitMilliseconds = 10000);

    // Calls then() once it is known where the address leads: at once for an
    // address that is not on loopback or a site that is missing; otherwise
    // when a listener of this user's accepts a connection (for a site started
    // here, once it said it is ready), when the started site said why it
    // cannot, or when the wait is over. Never blocks: the connection, the
    // site's word and the wait come on the event loop, so a port that drops
    // every connection holds up nothing.
    void whenReady(const QUrl& address, Then then);

    // The answer for a problem with an address, also for one found after
    // whenReady() said it could be used; the reason is the site's own, for
    // a site that failed.
    SiteAnswer problem(SiteProblem problem, const QUrl& address, const QString& reason = {}) const;

private:
    struct Probe;
    struct Started;
    struct Word;

    void probe(Probe p);
    void heldByOther(Probe p);
    void start(Probe p);
    std::shared_ptr<Started> launch(quint16 port);
    void await(Probe p);
    void heard(const std::shared_ptr<Started>& started, quint16 port, const Word& word);
    void act(const Word& word, Probe p);
    void connectTo(Probe p);
    void refused(Probe p);
    void retry(Probe p);
    std::shared_ptr<Started> startedLately(quint16 port) const;

    QString m_program;
    Starter m_starter;
    int m_wait;
    bool m_handPipe = true; // false once this program ended without a word
    // Sites started here, by port, while their wait lasts.
    QHash<quint16, std::shared_ptr<Started>> m_started;
    QObject m_pending; // owns the connections and timers of the answers still due
};

} // namespace platform

#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <functional>

namespace platform {

enum class SiteProblem {
    None,
    Missing,   // quelvix-site is neither beside this program nor on PATH
    NoAnswer,  // the site did not take the port within the wait, or stopped answering
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
// Pages are only taken from a listener of this user's own. Another user's
// program on the port could show anything under the app's name and would see
// every lookup, so then the address moves to this user's own port (see
// addresses::fallbackPort) and the site is started there.
class LocalSite {
public:
    // Starts a program with arguments, detached; false when it could not.
    using Starter = std::function<bool(const QString& program, const QStringList& arguments)>;
    using Then = std::function<void(const SiteAnswer& answer)>;

    LocalSite();
    LocalSite(QString program, Starter starter, int waitMilliseconds = 2000);

    // Calls then() once it is known where the address leads: at once for an
    // address that is not on loopback or a site that is missing; otherwise
    // when a listener of this user's accepts a connection, or when the wait
    // is over. Never blocks: the connection and the wait run on the event
    // loop, so a port that drops every connection holds up nothing.
    void whenReady(const QUrl& address, Then then);

    // The answer for a problem with an address, also for one found after
    // whenReady() said it could be used.
    SiteAnswer problem(SiteProblem problem, const QUrl& address) const;

private:
    struct Probe;

    void probe(Probe p);
    void heldByOther(Probe p);
    void start(Probe p);
    void connectTo(Probe p);
    void refused(Probe p);
    void retry(Probe p);
    bool startedLately(quint16 port) const;

    QString m_program;
    Starter m_starter;
    int m_wait;
    QHash<quint16, QDeadlineTimer> m_started; // ports a site was started on, within the wait
    QObject m_pending; // owns the connections and timers of the answers still due
};

} // namespace platform

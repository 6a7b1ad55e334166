#include "browserlauncher.h"

#include "localsite.h"
#include "messenger.h"

#include <QApplication>

namespace platform {

SiteBrowserLauncher::SiteBrowserLauncher(LocalSite& site, Messenger& messenger,
                                         BrowserStarter startBrowser)
    : m_site(site)
    , m_messenger(messenger)
    , m_startBrowser(std::move(startBrowser)) {}

// An address on the local site that cannot be had is never handed over: the
// browser could only say that nothing answers. The box says why, with the
// command that mends it, once for each request.
void SiteBrowserLauncher::open(const QUrl& address) {
    m_site.whenReady(
        address, [this, alive = std::weak_ptr<int>(m_alive)](const SiteAnswer& answer) {
            if (alive.expired()) {
                return;
            }
            if (answer.problem != SiteProblem::None) {
                report(answer.what + QLatin1Char('\n') + answer.fix, answer.address);
                return;
            }
            const auto late = [this, alive, target = answer.address](const QString& reason) {
                if (!alive.expired()) {
                    report(reason, target);
                }
            };
            if (const auto error = m_startBrowser(answer.address, late)) {
                report(*error, answer.address);
            }
        });
}

void SiteBrowserLauncher::report(const QString& reason, const QUrl& address) const {
    m_messenger.show(QApplication::activeWindow(),
                     {reason, {}, MessageIcon::Critical, address.toString(QUrl::FullyEncoded)});
}

} // namespace platform

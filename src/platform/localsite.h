#pragma once

#include "browserlauncher.h"
#include "messenger.h"
#include "webpane.h"

#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

namespace platform {

// The lookup site on this machine's loopback address, started when an
// address on it is about to be used and nothing answers there yet: the
// installed quelvix-site beside this program (else on PATH), on the address's
// port, detached and without a shell. It ends itself after 30 minutes
// without a request, outliving this program for the browser's pages.
class LocalSite {
public:
    // Starts a program with arguments, detached; false when it could not.
    using Starter = std::function<bool(const QString& program, const QStringList& arguments)>;

    LocalSite();
    LocalSite(QString program, Starter starter);

    // Calls then() once the address can be used: at once when its host is
    // not loopback or its port accepts; otherwise once the started site
    // accepts, or after 2 s, or at once when no site can be started. Never
    // blocks: the wait runs on the event loop.
    void whenReachable(const QUrl& address, std::function<void()> then);

    static bool isLoopback(const QUrl& address);

private:
    QString m_program;
    Starter m_starter;
};

// The browser launcher and the web pane, with the local site started first
// where they need it. A failure of the browser after a wait is shown with the
// messenger, as the window shows the others.
std::unique_ptr<BrowserLauncher> withLocalSite(std::unique_ptr<BrowserLauncher> launcher,
                                               LocalSite& site, Messenger& messenger);
WebPaneFactory withLocalSite(WebPaneFactory factory, LocalSite& site);

} // namespace platform

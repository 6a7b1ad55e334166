#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

class LocalSite;
class Messenger;

// Hands a web address to the user's default web browser without waiting for
// it; what goes wrong is told to the person by the launcher itself.
class BrowserLauncher {
public:
    virtual ~BrowserLauncher() = default;
    virtual void open(const QUrl& address) = 0;
};

// Called with a readable reason when the browser was started but failed
// afterwards (its opener ended with an error).
using LateBrowserFailure = std::function<void(const QString& reason)>;

// The platform's way to the default browser. Returns a readable reason when
// the browser could not be asked to open the address.
std::optional<QString> startBrowser(const QUrl& address, const LateBrowserFailure& onLateFailure);

using BrowserStarter =
    std::function<std::optional<QString>(const QUrl& address, const LateBrowserFailure&)>;

// The launcher: an address on the local site goes to the browser once the
// site has been seen to (started, or moved to this user's own port); when it
// cannot be had, a box says why instead. Every failure is shown with the
// messenger, the address beside the reason.
class SiteBrowserLauncher final : public BrowserLauncher {
public:
    SiteBrowserLauncher(LocalSite& site, Messenger& messenger,
                        BrowserStarter startBrowser = platform::startBrowser);

    void open(const QUrl& address) override;

private:
    void report(const QString& reason, const QUrl& address) const;

    LocalSite& m_site;
    Messenger& m_messenger;
    BrowserStarter m_startBrowser;
    std::shared_ptr<int> m_alive = std::make_shared<int>(); // outlived by late failures
};

} // namespace platform

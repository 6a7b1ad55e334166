#pragma once

#include <QUrl>
#include <functional>
#include <memory>

class QWidget;

namespace platform {

class BrowserLauncher;
class LocalSite;
class Messenger;

// A web browser pane filling a host widget. It starts empty and shows the page
// of each address it is given, replacing the one before.
class WebPane {
public:
    virtual ~WebPane() = default;
    virtual void navigate(const QUrl& address) = 0;
    // A page made by the program, not fetched. With a site, its links
    // (written from the site's root: "/filefound/...") lead there and stay in
    // the pane; without one nothing on it reaches any site.
    virtual void showPage(const QString& html, const QUrl& site) = 0;
};

using WebPaneFactory = std::function<std::unique_ptr<WebPane>(QWidget* host)>;

// What the engine needs of the process before QApplication exists, though it
// is only loaded later: an OpenGL context the whole application shares.
void prepareWebPane();

// The pane. It shows white until the engine is needed: the engine is loaded
// on the first address, or as soon as a character is typed in the host's
// window, so the window never waits for it and an idle app stays small. An
// address on the local site is shown once the site has been seen to; when it
// cannot be, the pane says why on a page of its own. Of addresses given in
// quick succession only the latest is shown. Links off the site go to the
// browser; what goes wrong with the engine is shown with the messenger.
// Files dropped on the pane go to its window, as if dropped beside it.
std::unique_ptr<WebPane> attachWebPane(QWidget* host, LocalSite& site, BrowserLauncher& browser,
                                       Messenger& messenger);

} // namespace platform

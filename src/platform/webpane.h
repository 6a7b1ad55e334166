#pragma once

#include "addresses.h"

#include <QByteArray>
#include <QUrl>
#include <functional>
#include <memory>

class QWidget;

namespace platform {

class BrowserLauncher;
class LocalSite;
class Messenger;

// The file given to the app that a page is about, for the page's 打开 links.
// Its path stays in the app: the page's links carry only a program's id.
struct PageFile {
    QByteArray path; // as the file system spells it; empty for none
    // What the file really is when its name passes a program off as
    // something else ("Windows 程序"): opening it asks first. Empty otherwise.
    QString realKind = {};
};

// An action link clicked on a page of the user's own site, and what the pane
// knows around it.
struct PageAction {
    addresses::ActionRequest request;
    // The file of the page the link was on; empty when that page is not the
    // one the pane was given for a file.
    PageFile file;
    QWidget* window; // for the boxes that ask or tell
    QWidget* host;   // the pane's own widget, for a line under the page
    // Shows the page again, so it tells what the action changed.
    std::function<void()> reload;
};
using ActionHandler = std::function<void(const PageAction& action)>;

// A web browser pane filling a host widget. It starts empty and shows the page
// of each address it is given, replacing the one before.
class WebPane {
public:
    virtual ~WebPane() = default;
    // With a file, the page is about that file, for as long as it is shown.
    virtual void navigate(const QUrl& address, const PageFile& file = {}) = 0;
    // A page made by the program, not fetched. With a site, its links
    // (written from the site's root: "/filefound/...") lead there and stay in
    // the pane; without one nothing on it reaches any site.
    virtual void showPage(const QString& html, const QUrl& site) = 0;
    // Who carries out the action links of the user's own site; the pane
    // starts with the desktop's (see pageActions). It is called only for a
    // link that actionOf reads, clicked in the main frame of a page on the
    // local site on this machine's loopback; never for one in a frame, after
    // a redirect, typed, or on any other page.
    virtual void onAction(ActionHandler handler) = 0;
};

// The desktop's own: opens with the program, makes it the default, installs.
// Its module is loaded with the first action; where it cannot be, that
// action is refused with the reason.
ActionHandler pageActions(Messenger& messenger);

using WebPaneFactory = std::function<std::unique_ptr<WebPane>(QWidget* host)>;

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

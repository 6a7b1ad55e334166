#pragma once

// What the web pane's module offers: three functions, resolved by name when
// the pane loads it. Only the module links Qt WebEngine.

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace platform {

struct EngineHooks {
    // The view cannot show pages any more (its page process ended).
    std::function<void(const QString& reason)> fail;
    // A link or form off the shown site's origin, for the default browser.
    std::function<void(const QUrl& address)> openElsewhere;
    // A page could not be fetched at all: nothing answered, or not in HTTP.
    std::function<void(const QUrl& address)> unreachable;
    // A click, in the main frame, on an action link of the page shown, both
    // on the origin the view is kept to. Such a link is never loaded; what
    // else asks for one is ignored. reload shows the page again, if the view
    // still exists by then.
    std::function<void(const QUrl& action, const QUrl& page, std::function<void()> reload)> act;
};

// A view filling the host; null with a readable reason when the engine
// cannot run here.
using CreateEngineView = QWidget* (*)(QWidget* host, const EngineHooks* hooks, QString* error);
// Shows the page of an address and keeps the view on that address's origin.
using LoadInEngineView = void (*)(QWidget* view, const QUrl* address);
// Shows a page of the pane's own, made here, not fetched; with a base, its
// links resolve against it and stay in the view.
using ShowInEngineView = void (*)(QWidget* view, const QString* html, const QUrl* base);

} // namespace platform

#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QWidget;

namespace platform {

// A web browser pane filling a host widget. It starts empty and shows the page
// of each address it is given, replacing the one before.
class WebPane {
public:
    virtual ~WebPane() = default;
    virtual void navigate(const QUrl& address) = 0;
};

// Called with a readable reason when the pane cannot show pages any more
// (its page process died, or the engine could not start one).
using WebPaneFailureHandler = std::function<void(const QString& reason)>;

using WebPaneFactory =
    std::function<std::unique_ptr<WebPane>(QWidget* host, WebPaneFailureHandler onFailure)>;

// The real pane. It shows white until the engine is needed: the engine is
// loaded on the first address, or as soon as a character is typed in the
// host's window, so the window never waits for it and an idle app stays small.
std::unique_ptr<WebPane> attachWebPane(QWidget* host, WebPaneFailureHandler onFailure);

} // namespace platform

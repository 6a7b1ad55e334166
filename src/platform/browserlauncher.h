#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

// Hands a web address to the user's default web browser without waiting for it.
class BrowserLauncher {
public:
    virtual ~BrowserLauncher() = default;
    // Returns a readable reason when the browser could not be asked to open the address.
    [[nodiscard]] virtual std::optional<QString> open(const QUrl& address) = 0;
};

// Called with a readable reason when the browser was started but failed
// afterwards (its opener ended with an error), after open() had returned.
using LateBrowserFailure = std::function<void(const QString& reason)>;

std::unique_ptr<BrowserLauncher> makeBrowserLauncher(LateBrowserFailure onLateFailure = {});

} // namespace platform

#pragma once

#include <QString>
#include <QUrl>
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

std::unique_ptr<BrowserLauncher> makeBrowserLauncher();

} // namespace platform

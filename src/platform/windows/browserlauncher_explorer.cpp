#include "browserlauncher.h"
#include "processstarter.h"

namespace platform {
namespace {

// The system shell hands a quoted address to the default browser. The address
// is fully percent-encoded, so it can hold no quote that would end the argument.
class ExplorerBrowserLauncher final : public BrowserLauncher {
public:
    std::optional<QString> open(const QUrl& address) override {
        return m_processes->start(
            QStringLiteral("explorer.exe \"%1\"").arg(address.toString(QUrl::FullyEncoded)),
            ShowWindow::Minimized);
    }

private:
    std::unique_ptr<ProcessStarter> m_processes = makeProcessStarter();
};

} // namespace

std::unique_ptr<BrowserLauncher> makeBrowserLauncher() {
    return std::make_unique<ExplorerBrowserLauncher>();
}

} // namespace platform

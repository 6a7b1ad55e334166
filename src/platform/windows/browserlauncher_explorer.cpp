#include "browserlauncher.h"
#include "processstarter.h"
#include "win32/commandlines.h"

namespace platform {
namespace {

// The system shell hands a quoted address to the default browser. The
// address is fully percent-encoded; one that could still break the quoting
// is refused before any process starts.
class ExplorerBrowserLauncher final : public BrowserLauncher {
public:
    std::optional<QString> open(const QUrl& address) override {
        const QString text = address.toString(QUrl::FullyEncoded);
        const std::optional<std::wstring> commandLine =
            win32::explorerCommandLine(text.toStdWString());
        if (!commandLine) {
            return QStringLiteral("无法打开地址 %1").arg(text);
        }
        return m_processes->start(QString::fromStdWString(*commandLine), ShowWindow::Minimized);
    }

private:
    std::unique_ptr<ProcessStarter> m_processes = makeProcessStarter();
};

} // namespace

// explorer.exe hands the address on and tells nothing of what became of it.
std::unique_ptr<BrowserLauncher> makeBrowserLauncher(LateBrowserFailure) {
    return std::make_unique<ExplorerBrowserLauncher>();
}

} // namespace platform

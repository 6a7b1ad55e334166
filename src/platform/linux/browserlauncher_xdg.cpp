#include "browserlauncher.h"

#include <QProcess>

namespace platform {
namespace {

// xdg-open gets the address as one argument of its own: no shell ever sees it.
// QDesktopServices would do the same on X11, but says nothing about why it failed.
class XdgBrowserLauncher final : public BrowserLauncher {
public:
    std::optional<QString> open(const QUrl& address) override {
        QProcess process;
        process.setProgram(QStringLiteral("xdg-open"));
        process.setArguments({address.toString(QUrl::FullyEncoded)});
        process.setStandardInputFile(QProcess::nullDevice());
        if (!process.startDetached()) {
            return QStringLiteral("无法启动 xdg-open：%1").arg(process.errorString());
        }
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<BrowserLauncher> makeBrowserLauncher() {
    return std::make_unique<XdgBrowserLauncher>();
}

} // namespace platform

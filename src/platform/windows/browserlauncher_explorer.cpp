#include "browserlauncher.h"
#include "processstarter.h"
#include "win32/commandlines.h"

namespace platform {

// The system shell hands a quoted address to the default browser and tells
// nothing of what became of it. The address is fully percent-encoded; one
// that could still break the quoting is refused before any process starts.
std::optional<QString> startBrowser(const QUrl& address, const LateBrowserFailure&) {
    const QString text = address.toString(QUrl::FullyEncoded);
    const std::optional<std::wstring> commandLine = win32::explorerCommandLine(text.toStdWString());
    if (!commandLine) {
        return QStringLiteral("无法打开地址 %1").arg(text);
    }
    return makeProcessStarter()->start(QString::fromStdWString(*commandLine),
                                       ShowWindow::Minimized);
}

} // namespace platform

#include "browserlauncher.h"

#include <QProcess>

namespace platform {

// xdg-open gets the address as one argument of its own: no shell ever sees it.
// QDesktopServices would do the same on X11, but says nothing about why it failed.
std::optional<QString> startBrowser(const QUrl& address, const LateBrowserFailure& onLateFailure) {
    // Not detached, so that its exit status is heard, on the event loop.
    // It has no parent: one still running when the app ends is left to
    // run (it may be the browser itself, where xdg-open waits for it).
    auto* process = new QProcess;
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({address.toString(QUrl::FullyEncoded)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start();
    if (!process->waitForStarted()) {
        const QString reason = QStringLiteral("无法启动 xdg-open：%1").arg(process->errorString());
        delete process;
        return reason;
    }
    QObject::connect(process, &QProcess::finished, process,
                     [process, onLateFailure](int code, QProcess::ExitStatus status) {
                         if (onLateFailure && (status != QProcess::NormalExit || code != 0)) {
                             onLateFailure(QStringLiteral("xdg-open 未能打开网页（退出代码 %1）")
                                               .arg(status == QProcess::NormalExit ? code : -1));
                         }
                         process->deleteLater();
                     });
    return std::nullopt;
}

} // namespace platform

#include "browserlauncher.h"

#include <windows.h>

#include <string>

namespace platform {
namespace {

// The system shell hands a quoted address to the default browser. The address
// is fully percent-encoded, so it can hold no quote that would end the argument.
class ExplorerBrowserLauncher final : public BrowserLauncher {
public:
    std::optional<QString> open(const QUrl& address) override
    {
        const QString commandLine = QStringLiteral("explorer.exe \"%1\"")
                                        .arg(address.toString(QUrl::FullyEncoded));
        std::wstring buffer = commandLine.toStdWString();
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWMINIMIZED;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info)) {
            return QStringLiteral("无法启动 explorer.exe（错误 %1）").arg(GetLastError());
        }
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<BrowserLauncher> makeBrowserLauncher()
{
    return std::make_unique<ExplorerBrowserLauncher>();
}

} // namespace platform

#include "processstarter.h"

#include <string>
#include <windows.h>

namespace platform {

namespace {

class CreateProcessStarter final : public ProcessStarter {
public:
    std::optional<QString> start(const QString& commandLine, ShowWindow show) override {
        if (commandLine.isEmpty()) {
            return QStringLiteral("命令行为空");
        }
        std::wstring buffer = commandLine.toStdWString();
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = show == ShowWindow::Minimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info)) {
            return QStringLiteral("无法启动 %1（错误 %2）").arg(commandLine).arg(GetLastError());
        }
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<ProcessStarter> makeProcessStarter() {
    return std::make_unique<CreateProcessStarter>();
}

} // namespace platform

#include "processstarter.h"

#include <QProcess>

namespace platform {
namespace {

// The command lines started here name one program by its full path (see the
// registry mapping), so the whole line is the program: nothing splits it and
// no shell reads it. Desktop programs pick their own window state.
class DetachedProcessStarter final : public ProcessStarter {
public:
    std::optional<QString> start(const QString& commandLine, ShowWindow) override {
        if (commandLine.isEmpty()) {
            return QStringLiteral("命令行为空");
        }
        QProcess process;
        process.setProgram(commandLine);
        process.setStandardInputFile(QProcess::nullDevice());
        if (!process.startDetached()) {
            return QStringLiteral("无法启动 %1：%2").arg(commandLine, process.errorString());
        }
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<ProcessStarter> makeProcessStarter() {
    return std::make_unique<DetachedProcessStarter>();
}

} // namespace platform

#include "processstarter.h"
#include "win32/win32core.h"

namespace platform {
namespace {

class CreateProcessStarter final : public ProcessStarter {
public:
    std::optional<QString> start(const QString& commandLine, ShowWindow show) override {
        if (commandLine.isEmpty()) {
            return QStringLiteral("命令行为空");
        }
        if (const unsigned long error =
                win32::startProcess(commandLine.toStdWString(), int(show))) {
            return QStringLiteral("无法启动 %1（错误 %2）").arg(commandLine).arg(error);
        }
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<ProcessStarter> makeProcessStarter() {
    return std::make_unique<CreateProcessStarter>();
}

} // namespace platform

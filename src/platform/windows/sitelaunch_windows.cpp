#include "common/sitelaunch.h"

#include <QProcess>

namespace platform::sitelaunch {

// The kernel's socket tables are not read here, and the ids they would name
// are of no use.
uint currentUser() {
    return 0;
}

Holder holderOf(quint16) {
    return Holder::Unknown;
}

bool startDetached(const QString& program, const QStringList& arguments, int) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

// The site is waited for by trying its port.
std::unique_ptr<ReadyPipe> openReadyPipe() {
    return nullptr;
}

} // namespace platform::sitelaunch

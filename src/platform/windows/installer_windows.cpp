// Windows has no package service the app could ask; the pages it is shown
// carry no install links.
#include "installer.h"

namespace platform {

std::unique_ptr<Installer> makeInstaller(InstallWatch) {
    return nullptr;
}

QString installCommand(const QString&) {
    return {};
}

} // namespace platform

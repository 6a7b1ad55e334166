#include "process.h"

#include <QCoreApplication>

namespace platform {

void prepareProcess() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace platform

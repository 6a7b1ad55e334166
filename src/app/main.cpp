#include "form1.h"
#include "identity.h"
#include "process.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    platform::prepareProcess();
    QApplication app(argc, argv);
    identity::applyLanguage(app);

    const auto messenger = platform::makeMessenger();
    const auto browser = platform::makeBrowserLauncher();
    const auto registry = platform::makeRegistry();
    const auto processes = platform::makeProcessStarter();
    Form1 form({
        .messenger = *messenger,
        .browser = *browser,
        .registry = *registry,
        .processes = *processes,
        .attachWebPane = platform::attachWebPane,
        .exitProcess = [] { QApplication::exit(0); },
    });
    form.show();
    return QApplication::exec();
}

#include "form1.h"
#include "identity.h"
#include "process.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    platform::prepareProcess();
    QApplication app(argc, argv);
    identity::applyLanguage(app);

    const auto messenger = platform::makeMessenger();
    const auto browser = platform::makeBrowserLauncher();
    Form1 form({*messenger, *browser, platform::attachWebPane, [] { QApplication::exit(0); }});
    form.show();
    return QApplication::exec();
}

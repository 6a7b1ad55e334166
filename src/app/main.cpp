#include "browserlauncher.h"
#include "commandline.h"
#include "form1.h"
#include "identity.h"
#include "keyboard.h"
#include "localsite.h"
#include "owndata.h"
#include "process.h"
#include "termination.h"
#include "webpane.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    if (const auto answered = identity::answerCommandLine(argc, argv)) {
        return *answered;
    }
    const QList<QByteArray> files = identity::fileArguments(argc, argv);
    platform::prepareProcess();
    // A file given is named by the same format table as the site's pages.
    owndata::putFirst();
    identity::narrowFontsTo(identity::laidOutFontFile());
    QApplication app(argc, argv);
    const auto messenger = platform::makeMessenger();
    if (!identity::applyLanguage(app)) {
        // In the one language every machine can show.
        messenger->show(nullptr, {QStringLiteral("No installed font can show Simplified Chinese. "
                                                 "Install fonts-noto-cjk."),
                                  {},
                                  platform::MessageIcon::Critical});
    }
    platform::useDesktopKeyboard(app);
    platform::quitOnTermination([] { QApplication::exit(0); });

    platform::LocalSite site;
    platform::SiteBrowserLauncher browser(site, *messenger);
    const auto registry = platform::makeRegistry();
    const auto processes = platform::makeProcessStarter();
    Form1 form({
        .messenger = *messenger,
        .browser = browser,
        .registry = *registry,
        .processes = *processes,
        .attachWebPane =
            [&](QWidget* host) { return platform::attachWebPane(host, site, browser, *messenger); },
        .exitProcess = [] { QApplication::exit(0); },
    });
    form.show();
    // Once the window is up, so that it shows while the files are looked at.
    QTimer::singleShot(0, &form, [&form, &files] { form.openFiles(files); });
    return QApplication::exec();
}

// The pane's actions without the pane, for bench/actions.py: the moment of
// the click is printed on CLOCK_MONOTONIC, which Python's time.monotonic()
// reads too.
//     bench_actions open <desktop-id> <file>     prints the click's time
//     bench_actions install-file <package.deb>   prints the click's and the
//                                                end's times, or fails
#include "installer.h"
#include "messenger.h"
#include "webpane.h"

#include <QApplication>
#include <QFile>
#include <QWidget>
#include <cstdio>
#include <ctime>

namespace {

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int open(const QString& program, const QString& file) {
    QWidget window;
    const std::unique_ptr<platform::Messenger> messenger = platform::makeMessenger();
    const platform::ActionHandler act = platform::pageActions(*messenger);
    const double clicked = now();
    act({{addresses::Action::Open, program, {}, {}, {}},
         {QFile::encodeName(file)},
         &window,
         &window,
         [] {
         }});
    std::printf("%.6f\n", clicked);
    std::fflush(stdout);
    return 0;
}

int installFile(const QString& path) {
    std::optional<platform::InstallEnd> end;
    QString reason;
    const double clicked = now();
    const std::unique_ptr<platform::Installer> installer =
        platform::makeInstaller({[](int, const QString&) {},
                                 [&](platform::InstallEnd e, const QString& r) {
                                     end = e;
                                     reason = r;
                                     QApplication::quit();
                                 }});
    if (!installer) {
        std::fprintf(stderr, "no package service\n");
        return 1;
    }
    installer->installFile(path);
    QApplication::exec();
    if (end != platform::InstallEnd::Done) {
        std::fprintf(stderr, "%s\n", qPrintable(reason));
        return 1;
    }
    std::printf("%.6f %.6f\n", clicked, now());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments[1] == "open") {
        return open(arguments[2], arguments[3]);
    }
    if (arguments.size() == 3 && arguments[1] == "install-file") {
        return installFile(arguments[2]);
    }
    std::fprintf(stderr, "usage: bench_actions open <desktop-id> <file> | install-file <deb>\n");
    return 2;
}

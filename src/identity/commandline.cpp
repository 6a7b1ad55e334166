#include "commandline.h"

#include "buildconfig.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

namespace identity {
namespace {

// The options every Qt GUI program takes, so that they are not unknown here.
const char* const qtValueOptions[] = {"platform",        "platformpluginpath",
                                      "platformtheme",   "plugin",
                                      "qwindowgeometry", "qwindowicon",
                                      "qwindowtitle",    "style",
                                      "stylesheet",      "display",
                                      "geometry",        "session"};
const char* const qtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

QString versionText() {
    return QStringLiteral("quelvix %1.%2.%3\n")
        .arg(build::versionMajor)
        .arg(build::versionMinor)
        .arg(build::versionRevision);
}

} // namespace

std::optional<int> answerCommandLine(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Looks up file extensions: type one and see what it is and what opens it."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const char* name : qtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), {}, QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : qtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    // "-platform offscreen", as Qt spells its own, is one option with a value.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QString program = QStringLiteral("quelvix");
    // Without an application object the parser cannot know the program's name.
    const QString usage = parser.helpText().replace(QStringLiteral("<executable_name>"), program);
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        const QString why = parser.errorText().isEmpty() ? QStringLiteral("it takes no arguments")
                                                         : parser.errorText();
        std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(program), qPrintable(why),
                     qPrintable(usage));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(usage), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::fputs(qPrintable(versionText()), stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace identity

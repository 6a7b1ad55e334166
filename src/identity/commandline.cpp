#include "commandline.h"

#include "buildconfig.h"
#include "identitynames.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
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

const char program[] = "quelvix";

// Written here rather than by the parser, whose texts are English unless a
// translator is installed, and that needs an application object.
QString usageText() {
    return QStringLiteral("用法：%1 [选项] [文件…]\n"
                          "%2：输入文件扩展名（如 pdf），查看它是什么格式、用什么软件打开。\n"
                          "给出文件时，按文件的内容查看它实际是什么，名字有误导时给出提醒。\n"
                          "\n"
                          "选项：\n"
                          "  -h, --help     显示本帮助\n"
                          "  -v, --version  显示版本\n"
                          "\n"
                          "也接受 Qt 程序的通用选项，如 -platform 和 -style。\n")
        .arg(QLatin1String(program), QString::fromUtf8(names::applicationTitle));
}

QString versionText() {
    return QStringLiteral("%1 %2.%3.%4\n%5 文件扩展名查询\n")
        .arg(QLatin1String(program))
        .arg(build::versionMajor)
        .arg(build::versionMinor)
        .arg(build::versionRevision)
        .arg(QString::fromUtf8(names::applicationTitle));
}

QString dashed(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});

QStringList decoded(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

// False when the command line is refused.
bool parse(QCommandLineParser& parser, const QStringList& arguments) {
    parser.addOptions({help, version});
    for (const char* name : qtValueOptions) {
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), {}, QStringLiteral("value")));
    }
    for (const char* name : qtFlagOptions) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    }
    // "-platform offscreen", as Qt spells its own, is one option with a value.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    return parser.parse(arguments);
}

} // namespace

QString commandLineRefusal(const QCommandLineParser& parser, bool chinese) {
    const auto say = [chinese](const char* inChinese, const char* inEnglish) {
        return QString::fromUtf8(chinese ? inChinese : inEnglish);
    };
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
        QStringList options;
        std::transform(unknown.begin(), unknown.end(), std::back_inserter(options), dashed);
        return say("未知选项 %1", "unknown option %1").arg(options.join(say("、", ", ")));
    }
    // What is left is an option without its value, or a switch given one; the
    // parser's own message names the option between single quotes. It is in
    // English: neither program has a translator installed when it parses.
    const QString error = parser.errorText();
    const QString option = QRegularExpression(QStringLiteral("'([^']*)'")).match(error).captured(1);
    if (option.isEmpty()) {
        return say("无法识别的命令行", "the command line is not understood");
    }
    return error.startsWith(QLatin1String("Unexpected value"))
               ? say("选项 %1 不带取值", "option %1 takes no value").arg(option)
               : say("选项 %1 缺少取值", "option %1 needs a value").arg(option);
}

QList<QByteArray> fileArguments(int argc, char* argv[]) {
    const QStringList arguments = decoded(argc, argv);
    QCommandLineParser parser;
    if (!parse(parser, arguments)) {
        return {};
    }
    // The parser gives the files back decoded, which loses what is not
    // valid in the locale's encoding; they are found again among argv, in
    // order, to keep their bytes.
    QList<QByteArray> files;
    int next = 1;
    for (const QString& file : parser.positionalArguments()) {
        while (next < argc && arguments[next] != file) {
            ++next;
        }
        if (next < argc) {
            files << QByteArray(argv[next++]);
        }
    }
    return files;
}

std::optional<int> answerCommandLine(int argc, char* argv[]) {
    QCommandLineParser parser;
    if (!parse(parser, decoded(argc, argv))) {
        std::fprintf(stderr, "%s：%s\n\n%s", program, qPrintable(commandLineRefusal(parser)),
                     qPrintable(usageText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(usageText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::fputs(qPrintable(versionText()), stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace identity

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

class QCommandLineParser;

// The program's command line: files to look at, and --help and --version,
// answered in Chinese before any window or display is needed. Qt's own
// options (-platform, -style, ...) are left for QApplication.
namespace identity {

// The exit status when the command line was answered here (0 after --help
// or --version, 2 after the usage for an unknown option); nothing when the
// program should start.
std::optional<int> answerCommandLine(int argc, char* argv[]);

// The files named on the command line, for the window to tell what they are,
// as the file system spells them (argv's bytes, whatever their encoding).
QList<QByteArray> fileArguments(int argc, char* argv[]);

// Why a parser refused a command line, in the one wording both programs use
// (the parser's own texts are English): in Chinese, or in English for a
// person whose locale is not Chinese.
QString commandLineRefusal(const QCommandLineParser& parser, bool chinese = true);

} // namespace identity

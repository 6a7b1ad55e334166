#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The desktop's programs, as its own file manager sees them: which one opens
// a type, opening a file with one, and choosing the default. Programs are
// named by their desktop file id ("org.gnome.Evince.desktop"). Each function
// that acts says why it could not, in Chinese, and is empty when it did.
namespace platform::desktopapps {

// The program's name as the desktop shows it; the id itself when unknown.
QString nameOf(const QString& program);
// The program that opens the type now; empty when none does.
QString defaultFor(const QString& type);

QString open(const QString& program, const QByteArray& file);
// Makes the program the person's own default for the type.
QString setDefault(const QString& program, const QString& type);

// What the person's own list of choices says of one type: its default, the
// programs they added and those they took away. Kept before setDefault so
// that an undo puts back exactly that and touches nothing else.
struct Choices {
    QString type;
    std::optional<QString> defaults, added, removed;
};
Choices choicesFor(const QString& type);
QString restoreChoices(const Choices& before);

// Whether a software centre takes appstream:// addresses.
bool hasSoftwareCentre();
QString openInSoftwareCentre(const QString& component);

} // namespace platform::desktopapps

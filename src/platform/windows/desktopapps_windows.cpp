// Windows has no desktop files to name programs by: the site never offers
// these actions there, and a link that asks anyway is told so.
#include "desktopapps.h"

namespace platform::desktopapps {
namespace {

QString unsupported() {
    return QStringLiteral("这个操作只能在 Linux 桌面上进行。");
}

} // namespace

QString nameOf(const QString& program) {
    return program;
}

QString defaultFor(const QString&) {
    return {};
}

QString open(const QString&, const QByteArray&) {
    return unsupported();
}

QString setDefault(const QString&, const QString&) {
    return unsupported();
}

Choices choicesFor(const QString& type) {
    return {type, {}, {}, {}};
}

QString restoreChoices(const Choices&) {
    return unsupported();
}

bool hasSoftwareCentre() {
    return false;
}

QString openInSoftwareCentre(const QString&) {
    return unsupported();
}

} // namespace platform::desktopapps

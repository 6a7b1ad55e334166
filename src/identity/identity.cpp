#include "identity.h"

#include "buildconfig.h"
#include "identitynames.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace identity {

QString applicationTitle() {
    return QString::fromUtf8(names::applicationTitle);
}

Version version() {
    return {build::versionMajor, build::versionMinor, build::versionRevision};
}

QString executableName() {
    return QString::fromUtf8(names::internalName);
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 72, 96, 128}) {
        icon.addFile(QStringLiteral(":/identity/icons/quelvix-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}

Sites sites() {
    return {QString::fromLatin1(build::lookupSite), QString::fromLatin1(build::searchSite),
            QString::fromLatin1(build::forumSite)};
}

QString supportContact() {
    return QString::fromLatin1(build::supportContact);
}

QString chineseFamily(const QStringList& installed) {
    // A monospaced CJK face at 12 px gives the 12 px CJK and 6 px ASCII
    // advances that every control size and the label texts were laid out for.
    const QString laidOutFor = QStringLiteral("Noto Sans Mono CJK SC");
    return installed.contains(laidOutFor) ? laidOutFor : installed.value(0);
}

namespace {

QFont dialogFontOf(const QString& family) {
    QFont font(family.isEmpty() ? QStringLiteral("Noto Sans Mono CJK SC") : family);
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(12);
    return font;
}

} // namespace

QFont dialogFont() {
    return dialogFontOf(chineseFamily(QFontDatabase::families(QFontDatabase::SimplifiedChinese)));
}

bool applyLanguage(QApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));

    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // Owned by the application so it lives exactly as long as the texts it translates.
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), dir)) {
        QApplication::installTranslator(translator);
    }

    QApplication::setApplicationName(QStringLiteral("quelvix"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(version().major)
                                            .arg(version().minor)
                                            .arg(version().revision));
    QApplication::setDesktopFileName(QString::fromUtf8(names::applicationId));
    // Every window carries the application icon through this one setting.
    QApplication::setWindowIcon(applicationIcon());
    // The font database is listed once: that is the costly part.
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    QApplication::setFont(dialogFontOf(chineseFamily(chinese)));
    return !chinese.isEmpty();
}

} // namespace identity

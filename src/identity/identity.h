#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

class QApplication;

// Who the application is: its title, version, icon, language and the web
// addresses it was built for. Everything here is constant for the process.
namespace identity {

struct Version {
    int major;
    int minor;
    int revision;
};

QString applicationTitle();
Version version();
QString executableName();
QIcon applicationIcon();

// Roots of the three sites the build was made for, "http://host[:port]"
// without a final slash.
struct Sites {
    QString lookup; // pages shown in the main window's pane
    QString search; // pages opened in the default browser
    QString forum;  // the maker's forum
};
Sites sites();

// The support contact's instant-messaging number, nine ASCII digits.
QString supportContact();

// Before the windows lay out any text: lets their fonts come from the
// directory of the face they were laid out for (fontFile, where the system
// installs it) with the system's and the user's rendering settings, instead of
// every configuration file and installed font, which is most of what fonts
// cost at start. False, changing nothing, when fontFile is not there. The
// windows then draw only with the faces of that directory, which cover
// Latin, Greek, Cyrillic and the CJK scripts.
bool narrowFontsTo(const QString& fontFile);
QString laidOutFontFile();
// The system's whole font configuration again, for what shows any page of
// the web (the engine takes the one current when it starts). Windows already
// laid out keep their faces.
void widenFonts();

// Simplified Chinese everywhere: locale, Qt's own dialog texts and the font
// the window geometry was laid out for. Call once, right after QApplication.
// False when no installed font can show Simplified Chinese at all.
bool applyLanguage(QApplication& app);

// The font every window uses unless a control says otherwise: the face the
// geometry was laid out for, else any installed face that covers Simplified
// Chinese.
QFont dialogFont();

// Of the installed faces that cover Simplified Chinese (in fontconfig's
// order), the one the windows use; empty when there is none.
QString chineseFamily(const QStringList& installed);

} // namespace identity

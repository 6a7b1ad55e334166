#include "identity.h"

#include <QDir>
#include <QFileInfo>
#include <fontconfig/fontconfig.h>

namespace identity {
namespace {

bool narrowed = false;

// fontconfig numbers conf.d by purpose: 10-29 decide how glyphs are rendered
// (antialiasing, hinting, sub-pixel order, LCD filter) and 50-59 load the
// user's and the administrator's own files. The rest choose among faces by
// alias and language, which a window that names its face never asks for.
bool decidesRendering(const QString& name) {
    return name.size() > 3 && name[1].isDigit() && name[2] == u'-' &&
           (name[0] == u'1' || name[0] == u'2' || name[0] == u'5') &&
           name.endsWith(QLatin1String(".conf"));
}

QByteArray escaped(const QString& path) {
    return path.toHtmlEscaped().toUtf8();
}

QByteArray configFor(const QString& fontDir, const QString& systemRules) {
    QByteArray xml = "<?xml version=\"1.0\"?><fontconfig><dir>" + escaped(fontDir) +
                     "</dir>"
                     // The system's caches, else the user's: without one the
                     // directory's faces would all be read at start.
                     "<cachedir>/var/cache/fontconfig</cachedir>"
                     "<cachedir prefix=\"xdg\">fontconfig</cachedir>";
    // Filtered here: a name filter would compile a regular expression.
    const QStringList rules = QDir(systemRules).entryList(QDir::Files, QDir::Name);
    for (const QString& rule : rules) {
        if (decidesRendering(rule)) {
            xml += "<include ignore_missing=\"yes\">" + escaped(QDir(systemRules).filePath(rule)) +
                   "</include>";
        }
    }
    return xml + "</fontconfig>";
}

QString systemRulesDir(FcConfig* config) {
    FcChar8* found = FcConfigGetFilename(config, reinterpret_cast<const FcChar8*>("conf.d"));
    const QString dir = found ? QString::fromUtf8(reinterpret_cast<const char*>(found)) : QString();
    FcStrFree(found);
    return dir;
}

} // namespace

QString laidOutFontFile() {
    // Where fonts-noto-cjk puts the face the windows were laid out for.
    return QStringLiteral("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc");
}

bool narrowFontsTo(const QString& fontFile) {
    const QFileInfo file(fontFile);
    // A configuration file of the user's choosing is kept whole.
    if (!file.isFile() || qEnvironmentVariableIsSet("FONTCONFIG_FILE")) {
        return false;
    }
    FcConfig* config = FcConfigCreate();
    const QByteArray xml = configFor(file.absolutePath(), systemRulesDir(config));
    const bool made = FcConfigParseAndLoadFromMemory(
                          config, reinterpret_cast<const FcChar8*>(xml.constData()), FcTrue) &&
                      FcConfigSetCurrent(config);
    FcConfigDestroy(config); // the current configuration holds its own reference
    narrowed = narrowed || made;
    return made;
}

void widenFonts() {
    if (!narrowed) {
        return;
    }
    narrowed = false;
    FcConfig* system = FcInitLoadConfigAndFonts();
    if (system) {
        FcConfigSetCurrent(system);
        FcConfigDestroy(system);
    }
}

} // namespace identity

#pragma once

#include <QByteArray>
#include <QString>

typedef struct _GAppInfo GAppInfo;

// Icons the pages show, served by the site itself. A page names an icon by
// what it is of (a file type's icon name, an installed program's desktop id,
// a catalog component's id), never by a file of this machine; the site finds
// the file again through the icon theme, GIO or the catalog, so no address
// can reach any other file.
namespace icons {

enum class Kind { Type, Program, Catalog };

// "/icons/<kind>/<name>.<png|svg>" for an icon file found for that name.
QString address(Kind kind, const QString& name, const QString& file);

// An icon address split back into what it names; false for anything else.
bool parseAddress(const QByteArray& path, Kind* kind, QString* name);

// The file of a themed icon name: the installed themes (Adwaita, then
// hicolor) at 48 px or scalable first, then any size, then pixmaps.
QString themedIconFile(const QString& name);

// The icon file of an installed program, by its desktop id, or from the
// program GIO already gave.
QString programIconFile(const QString& desktopId);
QString programIconFile(GAppInfo* app);

// Whether the name is a plain icon or id name: letters, digits, "._+-",
// not starting with a dot.
bool isPlainName(const QString& name);

// Drops what the themes index, so icons installed since are found.
void forgetThemes();

// image/png or image/svg+xml, by the file's name.
QByteArray contentType(const QString& file);

} // namespace icons

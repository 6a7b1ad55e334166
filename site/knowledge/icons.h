#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <memory>

typedef struct _GAppInfo GAppInfo;

namespace catalog {
class Catalog;
}

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

// Whether the name is a plain icon or id name: letters, digits, "._+-",
// not starting with a dot.
bool isPlainName(const QString& name);

// The icon themes' files by icon name, indexed on first use and kept until
// the themes change.
class Themes {
public:
    // The file of a themed icon name: the installed themes (Adwaita, then
    // hicolor) at 48 px or scalable first, then any size, then pixmaps.
    QString file(const QString& name) const;
    // The icon file of an installed program, by its desktop id, or from the
    // program GIO already gave.
    QString programFile(const QString& desktopId) const;
    QString programFile(GAppInfo* app) const;
    // Drops the index, so icons installed since are found.
    void forget();

private:
    std::shared_ptr<const QHash<QString, QString>> index() const;

    mutable QMutex m_lock;
    mutable std::shared_ptr<const QHash<QString, QString>> m_index;
};

// The file an icon address names, found again from what it names; empty for
// an address that names nothing, or a program of this machine on a public site.
QString resolve(const QByteArray& path, const Themes& themes, const catalog::Catalog& catalog,
                bool isPublic);

// image/png or image/svg+xml, by the file's name.
QByteArray contentType(const QString& file);

} // namespace icons

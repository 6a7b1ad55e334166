#pragma once

#include "catalog.h"
#include "distribution.h"
#include "extensions.h"
#include "icons.h"
#include "installed.h"
#include "memo.h"

#include <QList>
#include <QMimeDatabase>
#include <QString>
#include <QStringList>
#include <optional>

// What this machine knows about a file extension: the MIME types whose glob
// patterns name it, the installed programs that open them, and the catalog's
// programs that could be installed to open them.
namespace knowledge {

struct Program {
    QString name; // in Simplified Chinese where the desktop entry has it
    QString id;   // the desktop entry's id, or the catalog's component id
    QString description;
    bool isDefault = false;
    QString iconFile;
    // Set for a program whose package is installed but that GIO does not
    // show (no desktop entry in the applications folders): its catalog entry.
    QString package;
    bool fromCatalog = false;
    ranking::Fit fit;
    // The site's address of its icon, or of the generic program icon when it
    // has none of its own, so that names stand in one column; empty when
    // there is neither.
    QString icon;
};

// Programs that open only a type above the format (ZIP for a word document):
// not what the format is for, so they stand apart.
struct ParentGroup {
    QString mimeType;
    QString description;
    QList<Program> installed;
    QList<catalog::Program> installable;
};

struct Format {
    QString mimeType;
    QString description; // in Simplified Chinese where the database or the advice has it
    QString maker;       // which program makes such files, where known
    QString howToOpen;   // how to open them on this system, where known
    bool opensOnLinux = true;
    QStringList aliases;
    QStringList parents;
    QStringList suffixes; // every extension of the type, as its patterns spell it
    QString iconName;     // a themed icon name with a file, or empty
    QString iconFile;
    QString icon;                        // the site's address of iconFile
    QList<Program> programs;             // installed, the default first, then best fit
    QList<catalog::Program> installable; // not installed yet, best fit first
    QList<ParentGroup> parentGroups;
};

// Every icon address a page of the format may show.
QStringList iconsOf(const Format& format);

struct Answer {
    QString extension;     // as the pages show it, without the dot
    QList<Format> formats; // the most likely first
    // False for a public site's answer, which leaves out everything that
    // describes this machine: its installed programs and its default.
    bool describesMachine = true;
};

// What a lookup may tell: all this machine knows, or only what a public site
// may show anyone (the format and the catalog's programs).
enum class Scope { Machine, Public };

// Call once before the first lookup, before other threads start: fixes the
// language that descriptions and program names are read in.
void useSimplifiedChinese();

// The name an extension's page is under, as knownExtensions() has it.
QString pageName(const QString& suffix);

// What the lookups are worked out from; the site's sources own them all.
struct Parts {
    const QMimeDatabase& mime;
    extensions::Index& extensions;
    installed::Programs& installed;
    distribution::Installed& packages;
    const icons::Themes& icons;
};

struct TypeFacts;

// Lookups, and what they keep of each type until the databases change.
class Knowledge {
public:
    explicit Knowledge(const Parts& parts);
    ~Knowledge();
    Knowledge(const Knowledge&) = delete;
    Knowledge& operator=(const Knowledge&) = delete;

    // What the user meant: blanks around and leading dots dropped, letter case
    // folded, and a whole file name reduced to the longest known extension at
    // its end ("archive.tar.gz" gives "tar.gz").
    QString normalise(const QString& typed);

    // The formats of an extension already normalised; none when no type's
    // patterns name it.
    Answer lookUp(const QString& extension, const catalog::Catalog& catalog,
                  Scope scope = Scope::Machine);

    // A type by its MIME name or an alias; nothing for a name the database
    // does not know.
    std::optional<Format> formatFor(const QString& mimeType, const catalog::Catalog& catalog,
                                    Scope scope = Scope::Machine);

    // Up to five known extensions that start with the normalised text or are
    // one edit away from it.
    QStringList suggestions(const QString& text);

    // Every extension that the types' patterns name (wildcards expanded where
    // finite), case-folded and sorted: the names pages link to.
    QStringList knownExtensions();

    // Works out ahead what the pages of a known extension need from the type
    // database, which answers one thread at a time, so that their lookups
    // later only read what is kept.
    void prepare(const QString& extension);

    // Drops what is kept, after the databases changed.
    void forget();

private:
    std::shared_ptr<const TypeFacts> factsOf(const QString& name);
    QStringList typesNamed(const QString& extension);
    QString descriptionOf(const QString& name);
    ParentGroup& groupFor(const QString& parent, QList<ParentGroup>* groups);
    void groupByParent(Format* format);
    Format formatOf(const TypeFacts& facts, const catalog::Catalog& catalog, Scope scope);
    void addIcons(Format* format) const;

    Parts m_parts;
    Memo<QString, std::shared_ptr<const TypeFacts>> m_typeFacts;
    Memo<QString, QStringList> m_typesByExtension;
};

} // namespace knowledge

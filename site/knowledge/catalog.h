#pragma once

#include "memo.h"
#include "ranking.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <future>
#include <memory>
#include <optional>

// The distribution's software catalog (AppStream): the packaged desktop
// programs and the file types they open, installed or not. It is read whole
// once per load into maps, so answering needs neither the library nor a lock.
namespace catalog {

struct Program {
    QString id;      // the component id, as software centres know it
    QString name;    // in Simplified Chinese where the catalog has it
    QString summary; // the same
    QString package;
    QString iconFile;       // the catalog's 48 px icon; empty when it has none
    QStringList desktopIds; // what it installs to be started by
    ranking::Fit fit;
    int siblings = 0; // other programs of its package that open the format too
    QString icon;     // the site's address of its icon, as a lookup gives it
    // False for a program from apt's lists that the catalog does not describe
    // (one the advice names): no software centre shows it.
    bool inCatalog = true;
    // The catalog's own line where summary is a Chinese one put in its place.
    QString ownSummary;
};

// What the catalog says of a packaged program beside its file types.
struct Packaged {
    QString package;
    int desktops = 0; // how many of the distribution's desktops ship it
    bool described = false;
};

class Catalog {
public:
    // The system's catalog, or the one in a directory laid out as the
    // system's (yaml/ and icons/<origin>/48x48/). Never fails: a catalog that
    // is missing or unreadable is simply empty.
    // At start the catalog is read behind the first pages, which wait for it
    // only if they need it; read again, it is read whole before it replaces
    // the one the site serves meanwhile, so no page is built from a half-read one.
    enum class Reading { Behind, Whole };
    static std::shared_ptr<const Catalog> load(const QString& directory = {},
                                               Reading reading = Reading::Behind);
    ~Catalog();

    // Whether the system has a catalog at all, and whether it could be read.
    bool isInstalled() const;
    bool isAvailable() const;
    // The programs that open the format, its own before those of a type above
    // it, each best fit first, one per package: the package's best fitting
    // program.
    // Ranked once per type, and kept until forgetRankings().
    QList<Program> programsFor(const ranking::Target& target) const;
    // After the types changed: what ranks first may have changed with them.
    void forgetRankings() const;
    // The package's program that best fits the format, whether or not it
    // declares it; nothing when the catalog has no program of the package.
    std::optional<Program> programOf(const QString& package, const ranking::Target& target) const;
    // The package of an installed program, by its desktop id.
    Packaged packagedAs(const QString& desktopId) const;
    // How many programs declare the type: how much it is met.
    int programCount(const QString& type) const;
    QString iconFile(const QString& componentId) const;
    // The files whose change means the catalog should be read again.
    QStringList files() const;

private:
    struct Component {
        Program shown;
        ranking::Traits traits;
    };
    // Everything read from the catalog, by what it is looked up by.
    struct Tables {
        bool loaded = false;
        QList<Component> components;
        QHash<QString, QList<int>> byType;
        QHash<QString, int> byId;
        QHash<QString, int> byDesktopId;
        QHash<QString, QList<int>> byPackage;
        // Each component's place by name (then id), set once all are added,
        // so no request sorts by the collator.
        QList<int> nameOrder;
        void add(Component component);
        void orderByName();
    };
    // What is looked up once for the whole catalog while it is read.
    struct Interned {
        QHash<QString, int> choices;  // package -> desktops that ship it
        QHash<QString, int> families; // type -> its family
        QHash<QString, bool> formats; // type -> whether it is a format
        QSet<QString> names;          // types and categories, one copy each
    };
    static std::shared_ptr<const Tables> read(const QString& directory);
    static Component componentOf(const QList<QByteArrayView>& fields, Interned* interned);
    Catalog() = default;
    std::shared_ptr<const Tables> tables() const { return m_tables.get(); }
    QList<Program> rank(const ranking::Target& target) const;

    // The first catalog is read on a thread of its own, so that the site
    // answers what needs none while it is.
    std::shared_future<std::shared_ptr<const Tables>> m_tables;
    mutable Memo<QString, QList<Program>> m_rankings;
    QString m_directory;
    bool m_installed = false;
};

} // namespace catalog

#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

// The distribution's software catalog (AppStream): the packaged desktop
// programs and the file types they open, installed or not.
namespace catalog {

struct Program {
    QString id;      // the component id, as software centres know it
    QString name;    // in Simplified Chinese where the catalog has it
    QString summary; // the same
    QString package;
    QString iconFile;       // the catalog's 48 px icon; empty when it has none
    QStringList desktopIds; // what it installs to be started by
    bool exact = false;     // lists the type itself, not only a parent
};

class Catalog {
public:
    // The system's catalog, or the one in a directory laid out as the
    // system's (yaml/ and icons/<origin>/48x48/). Never fails: a catalog that
    // is missing or unreadable is simply empty.
    static std::shared_ptr<const Catalog> load(const QString& directory = {});
    ~Catalog();

    // Whether the system has a catalog at all, and whether it could be read.
    bool isInstalled() const;
    bool isAvailable() const;
    // Desktop programs for the types (the type and its aliases) and their
    // parents, exact ones first, each then by name.
    QList<Program> programsFor(const QStringList& types, const QStringList& parentTypes) const;
    QString iconFile(const QString& componentId) const;
    // The files whose change means the catalog should be read again.
    QStringList files() const;

private:
    Catalog() = default;
    struct Pool;
    std::unique_ptr<Pool> m_pool;
    QList<Program> query(const QStringList& types, bool exact, QSet<QString>* seen) const;
    QString m_directory;
    bool m_installed = false;
};

} // namespace catalog

#pragma once

#include "memo.h"

#include <QMimeDatabase>
#include <QMimeType>
#include <QString>
#include <QStringList>

// Which types an extension names, read from every type's glob patterns
// rather than from the database's best match for a file name, which leaves
// out every format but the likeliest. "*.[1-9]" names 1 to 9; a pattern with
// any other wildcard names no extension.
namespace extensions {

// The name an extension's page is under: case-folded, as all() has it.
QString pageName(const QString& extension);

struct Table;

// Built from every type's patterns on first use, and kept until the database
// changes.
class Index {
public:
    explicit Index(const QMimeDatabase& database);
    ~Index();
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

    // The types whose patterns name the extension (case-folded), most likely
    // first: the order the advice gives, then the database's best match, then
    // the patterns of the same letter case before those of another.
    QStringList typesNamed(const QString& extension);
    // Whether any type's patterns name the extension (case-folded).
    bool isNamed(const QString& extension);
    // Every extension named, case-folded and sorted.
    QStringList all();
    // The extensions a type's patterns name, spelt as the patterns spell them.
    QStringList of(const QMimeType& type);
    // After the database changed.
    void forget();

private:
    std::shared_ptr<const Table> table();

    const QMimeDatabase& m_database;
    Memo<int, std::shared_ptr<const Table>> m_kept; // one key: the whole table
};

} // namespace extensions

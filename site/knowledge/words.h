#pragma once

#include "catalog.h"
#include "extensions.h"
#include "memo.h"

#include <QList>
#include <QString>

// Finding formats by a word, for a person who does not know the extension:
// 压缩 finds the archives, 思维导图 the mind maps.
namespace words {

// A format found, and the extensions its pages are under, the one the
// advice names for it first.
struct Found {
    QStringList extensions;
    QString mimeType;
    QString description;
};

struct Entry;

// Every format's words, gathered on first use and kept until the database
// changes.
class Index {
public:
    Index(const QMimeDatabase& database, extensions::Index& extensions);
    ~Index();
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

    // The formats whose description (Chinese or English), MIME name, alias,
    // kind or advice keywords hold the word: those with the word among their
    // keywords first, then those that more programs open. A single Latin
    // letter finds nothing.
    QList<Found> find(const QString& word, const catalog::Catalog& catalog);
    // After the database changed.
    void forget();

private:
    const QMimeDatabase& m_database;
    extensions::Index& m_extensions;
    Memo<int, std::shared_ptr<const QList<Entry>>> m_kept; // one key: every entry
};

} // namespace words

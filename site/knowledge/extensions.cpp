#include "extensions.h"

#include "advice.h"
#include "meanings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>
#include <optional>

namespace extensions {

// More than this many names from one pattern is no list of extensions.
constexpr qsizetype maxExpansions = 64;

struct Named {
    QString type;
    bool sameCase = false; // a pattern spells it in lower case
};

struct Table {
    QHash<QString, QList<Named>> byExtension;
    QStringList sorted;
};

namespace {

// The characters a bracket expression stands for, "[1-9]" or "[abc]"; none
// for a negated one, which stands for nearly everything.
QString bracketChars(QStringView inside) {
    if (inside.isEmpty() || inside[0] == QLatin1Char('!') || inside[0] == QLatin1Char('^')) {
        return {};
    }
    QString chars;
    for (qsizetype i = 0; i < inside.size(); ++i) {
        if (i + 2 < inside.size() && inside[i + 1] == QLatin1Char('-')) {
            if (inside[i + 2].unicode() - inside[i].unicode() > maxExpansions) {
                return {};
            }
            for (char16_t c = inside[i].unicode(); c <= inside[i + 2].unicode(); ++c) {
                chars += QChar(c);
            }
            i += 2;
        } else {
            chars += inside[i];
        }
    }
    return chars;
}

// Every name a pattern's tail stands for; none if that is not a short list.
QStringList expand(QStringView tail) {
    QStringList names{QString()};
    for (qsizetype i = 0; i < tail.size(); ++i) {
        QString choices = QString(tail[i]);
        if (tail[i] == QLatin1Char('[')) {
            const qsizetype close = tail.indexOf(QLatin1Char(']'), i + 1);
            choices = close < 0 ? QString() : bracketChars(tail.mid(i + 1, close - i - 1));
            i = close;
        } else if (tail[i] == QLatin1Char('*') || tail[i] == QLatin1Char('?') ||
                   tail[i] == QLatin1Char('\\')) {
            choices.clear();
        }
        if (choices.isEmpty() || names.size() * choices.size() > maxExpansions) {
            return {};
        }
        QStringList longer;
        for (const QString& name : names) {
            for (QChar c : choices) {
                longer << name + c;
            }
        }
        names = longer;
    }
    return names.first().isEmpty() ? QStringList() : names;
}

// The extensions a pattern names; none for a pattern that is not "*." and a
// short list of names.
QStringList namesIn(const QString& pattern) {
    return pattern.startsWith(QLatin1String("*.")) ? expand(QStringView(pattern).mid(2))
                                                   : QStringList();
}

void addPattern(const QString& type, const QString& pattern, Table* index) {
    for (const QString& name : namesIn(pattern)) {
        QList<Named>& named = index->byExtension[pageName(name)];
        const bool sameCase = name == pageName(name);
        const auto known = std::find_if(named.begin(), named.end(),
                                        [&](const Named& entry) { return entry.type == type; });
        if (known == named.end()) {
            named.append({type, sameCase});
        } else {
            known->sameCase = known->sameCase || sameCase;
        }
    }
}

// Every type's patterns as Qt gives them: it reads each type's definition
// file for them, under its one lock.
Table fromDatabase(const QMimeDatabase& database) {
    Table index;
    for (const QMimeType& type : database.allMimeTypes()) {
        for (const QString& pattern : type.globPatterns()) {
            addPattern(type.name(), pattern, &index);
        }
    }
    return index;
}

// The types a database has a definition file for, in lower case as the
// files are named (and as Qt looks for them).
QSet<QString> definedIn(const QString& database) {
    QSet<QString> types;
    for (const QString& media : QDir(database).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QString& file :
             QDir(database + QLatin1Char('/') + media).entryList({QStringLiteral("*.xml")})) {
            types.insert((media + QLatin1Char('/') + file.chopped(4)).toLower());
        }
    }
    return types;
}

// The same patterns from the files the database was compiled with, in a few
// milliseconds instead of a definition file per type. Like Qt, the first
// database (in XDG order) with a type's definition file gives all of its
// patterns; "globs2" lists them as weight:type:pattern[:flags]. Nothing when
// a database has no such file (Qt then reads its packages), and then Qt is
// asked.
std::optional<Table> fromFiles() {
    const QStringList databases =
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("mime"),
                                  QStandardPaths::LocateDirectory);
    if (databases.isEmpty()) {
        return std::nullopt; // Qt answers from the copy built into it
    }
    Table index;
    QSet<QString> defined;
    for (const QString& database : databases) {
        QFile globs(database + QStringLiteral("/globs2"));
        if (!QFileInfo::exists(database + QStringLiteral("/mime.cache")) ||
            !globs.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        QSet<QString> definedHere = definedIn(database);
        definedHere.subtract(defined);
        for (const QByteArray& line : globs.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(':');
            if (fields.size() < 3 || line.startsWith('#')) {
                continue;
            }
            const QString type = QString::fromUtf8(fields[1]);
            if (definedHere.contains(type.toLower())) {
                addPattern(type, QString::fromUtf8(fields[2]), &index);
            }
        }
        defined.unite(definedHere);
    }
    return index;
}

Table build(const QMimeDatabase& database) {
    std::optional<Table> read = fromFiles();
    Table index = read ? std::move(*read) : fromDatabase(database);
    // The database hands types out in its hashes' order, which differs from
    // run to run; pages list them alike every time.
    for (QList<Named>& named : index.byExtension) {
        std::sort(named.begin(), named.end(),
                  [](const Named& a, const Named& b) { return a.type < b.type; });
    }
    index.sorted = index.byExtension.keys();
    index.sorted.sort();
    return index;
}

void moveFirst(const QStringList& names, QStringList* rest, QStringList* ordered) {
    for (const QString& name : names) {
        if (rest->removeOne(name)) {
            *ordered << name;
        }
    }
}

} // namespace

Index::Index(const QMimeDatabase& database)
    : m_database(database) {}

Index::~Index() = default;

std::shared_ptr<const Table> Index::table() {
    return m_kept.get(0, [this](int) { return std::make_shared<const Table>(build(m_database)); });
}

QStringList Index::typesNamed(const QString& extension) {
    const QList<Named> named = table()->byExtension.value(extension);
    if (named.isEmpty()) {
        return {};
    }
    QStringList rest;
    QStringList otherCase;
    for (const Named& entry : named) {
        (entry.sameCase ? rest : otherCase) << entry.type;
    }
    rest += otherCase;
    QStringList advised;
    for (const QString& name : filecheck::meaningsOf(extension)) {
        advised << m_database.mimeTypeForName(name).name(); // the data may name an alias
    }
    QStringList ordered;
    moveFirst(advised, &rest, &ordered);
    const qsizetype byAdvice = ordered.size();
    QStringList best;
    for (const QMimeType& type :
         m_database.mimeTypesForFileName(QStringLiteral("x.") + extension)) {
        best << type.name();
    }
    best.sort(); // all match as well; in the database's order they would not come alike
    moveFirst(best, &rest, &ordered);
    // Beyond what the advice orders, the formats people meet more often first.
    QStringList unordered = ordered.mid(byAdvice) + rest;
    ordered = ordered.first(byAdvice);
    std::stable_sort(unordered.begin(), unordered.end(), [](const QString& a, const QString& b) {
        return advice::commonness(a) < advice::commonness(b);
    });
    return ordered + unordered;
}

bool Index::isNamed(const QString& extension) {
    return table()->byExtension.contains(extension);
}

QStringList Index::all() {
    return table()->sorted;
}

QStringList Index::of(const QMimeType& type) {
    QStringList spelt;
    for (const QString& pattern : type.globPatterns()) {
        for (const QString& name : namesIn(pattern)) {
            if (!spelt.contains(name)) {
                spelt << name;
            }
        }
    }
    return spelt;
}

QString pageName(const QString& extension) {
    return extension.toCaseFolded();
}

void Index::forget() {
    m_kept.forget();
}

} // namespace extensions

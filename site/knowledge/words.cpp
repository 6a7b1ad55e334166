#include "words.h"

#include "advice.h"
#include "extensions.h"
#include "formatname.h"
#include "meanings.h"
#include "ranking.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <algorithm>
#include <memory>

namespace words {

struct Entry {
    QString type;
    QStringList names; // the type and its aliases
    QStringList extensions;
    QString description;
    QString keywords; // the advice's words, folded, one a line
    QString text;     // everything else it is found by, folded, one a line
};

namespace {

// The untranslated texts of one type's definition: its comment and acronyms.
QString englishOf(QXmlStreamReader& xml) {
    QString found;
    while (xml.readNextStartElement()) {
        const bool untranslated = !xml.attributes().hasAttribute(QLatin1String("xml:lang"));
        if (untranslated &&
            (xml.name() == QLatin1String("comment") || xml.name() == QLatin1String("acronym") ||
             xml.name() == QLatin1String("expanded-acronym"))) {
            found += xml.readElementText() + QLatin1Char('\n');
        } else {
            xml.skipCurrentElement();
        }
    }
    return found;
}

void readDefinitions(const QString& path, QHash<QString, QString>* english) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement()) {
        return;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("mime-type")) {
            const QString type = xml.attributes().value(QLatin1String("type")).toString();
            (*english)[type] += englishOf(xml);
        } else {
            xml.skipCurrentElement();
        }
    }
}

// QMimeType gives the comment in the language of the pages only; the English
// one is read from the definitions the database was built from.
QHash<QString, QString> englishTexts() {
    QHash<QString, QString> english;
    for (const QString& dataDir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QDir packages(dataDir + QStringLiteral("/mime/packages"));
        for (const QString& name : packages.entryList({QStringLiteral("*.xml")}, QDir::Files)) {
            readDefinitions(packages.filePath(name), &english);
        }
    }
    return english;
}

QString familyWords(const QString& type) {
    const int family = ranking::familyOf(type);
    if (family < 0) {
        return {};
    }
    const ranking::Family words = ranking::families().value(family);
    return words.label + QLatin1Char('\n') + words.words.join(QLatin1Char('\n'));
}

// Page names, those whose page the advice opens with the type first (vcf
// before the database's first, vcard; txt before asc, which is a key first).
QStringList pageNames(const QMimeType& type, extensions::Index& extensions) {
    QStringList names;
    for (const QString& spelt : extensions.of(type)) {
        const QString name = extensions::pageName(spelt);
        if (!names.contains(name)) {
            names << name;
        }
    }
    std::stable_partition(names.begin(), names.end(), [&](const QString& name) {
        return filecheck::meaningsOf(name).value(0) == type.name();
    });
    return names;
}

Entry entryOf(const QMimeType& type, const QString& english, extensions::Index& extensions) {
    const advice::Advice said = advice::about(type);
    const QString description = filecheck::formatName(type);
    const QStringList names = QStringList{type.name()} + type.aliases();
    const QString text = QStringList{description, type.comment(), english, names.join('\n'),
                                     familyWords(type.name())}
                             .join(QLatin1Char('\n'));
    return {type.name(),
            names,
            pageNames(type, extensions),
            description,
            said.keywords.join(QLatin1Char('\n')).toCaseFolded(),
            text.toCaseFolded()};
}

QList<Entry> build(const QMimeDatabase& database, extensions::Index& extensions) {
    const QHash<QString, QString> english = englishTexts();
    QList<Entry> entries;
    for (const QMimeType& type : database.allMimeTypes()) {
        if (!extensions.of(type).isEmpty()) {
            entries << entryOf(type, english.value(type.name()), extensions);
        }
    }
    return entries;
}

bool isTooShort(const QString& word) {
    return word.isEmpty() || (word.size() == 1 && word[0].unicode() < 0x80);
}

bool isLatin(const QString& word) {
    return std::all_of(word.begin(), word.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// Chinese has no spaces, so a Chinese word may stand anywhere in a text; a
// Latin one only as a whole word, or "ab" would find "table" and "cab".
bool holds(const QString& text, const QString& word) {
    if (!isLatin(word)) {
        return text.contains(word);
    }
    for (qsizetype at = text.indexOf(word); at >= 0; at = text.indexOf(word, at + 1)) {
        const qsizetype end = at + word.size();
        const bool startsWord = at == 0 || !text[at - 1].isLetterOrNumber();
        const bool endsWord = end == text.size() || !text[end].isLetterOrNumber();
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

int programCount(const Entry& entry, const catalog::Catalog& catalog) {
    int count = 0;
    for (const QString& name : entry.names) {
        count += catalog.programCount(name);
    }
    return count;
}

} // namespace

Index::Index(const QMimeDatabase& database, extensions::Index& extensions)
    : m_database(database)
    , m_extensions(extensions) {}

Index::~Index() = default;

QList<Found> Index::find(const QString& word, const catalog::Catalog& catalog) {
    const QString folded = word.trimmed().toCaseFolded();
    if (isTooShort(folded)) {
        return {};
    }
    // How closely a format answers the word: named by it as a keyword of its
    // own, then by its description, then anywhere in its texts.
    struct Hit {
        const Entry* entry;
        int commonness;
        int closeness;
        int programs;
    };
    const std::shared_ptr<const QList<Entry>> entries = m_kept.get(0, [this](int) {
        return std::make_shared<const QList<Entry>>(build(m_database, m_extensions));
    });
    QList<Hit> hits;
    for (const Entry& entry : *entries) {
        const bool byKeyword = holds(entry.keywords, folded);
        if (!byKeyword && !holds(entry.text, folded)) {
            continue;
        }
        const bool ownKeyword = entry.keywords.split(QLatin1Char('\n')).contains(folded);
        const bool described = holds(entry.description.toCaseFolded(), folded);
        hits.append({&entry, advice::commonness(entry.names),
                     int(ownKeyword) * 2 + int(described) + int(byKeyword),
                     programCount(entry, catalog)});
    }
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
        if (a.commonness != b.commonness) {
            return a.commonness < b.commonness;
        }
        if (a.closeness != b.closeness) {
            return a.closeness > b.closeness;
        }
        if (a.programs != b.programs) {
            return a.programs > b.programs;
        }
        // A short name is the plain format; a long one a variant of it.
        if (a.entry->description.size() != b.entry->description.size()) {
            return a.entry->description.size() < b.entry->description.size();
        }
        return a.entry->extensions.first() < b.entry->extensions.first();
    });
    QList<Found> found;
    for (const Hit& hit : hits) {
        found.append({hit.entry->extensions, hit.entry->type, hit.entry->description});
    }
    return found;
}

void Index::forget() {
    m_kept.forget();
}

} // namespace words

#include "ranking.h"

#include "builtin.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMimeDatabase>
#include <algorithm>

namespace ranking {
namespace {

struct FamilyData {
    Family shown;
    QString group;
    QStringList types; // MIME names, "*" matching any run of characters
    QStringList icons;
    QStringList categories;
    QStringList behind; // categories of programs that do something else with the format
};

struct Kind {
    QStringList categories;
    QString line;
};

struct Data {
    QList<FamilyData> families;
    QList<Kind> kinds;
    QStringList notFormats;
    QStringList containers;
    QHash<QString, QStringList> preferred; // type -> packages, first first
    QHash<QString, QStringList> unfit;     // type -> packages that cannot read it
};

QHash<QString, QStringList> packagesByType(const QJsonObject& table) {
    QHash<QString, QStringList> packages;
    for (auto entry = table.begin(); entry != table.end(); ++entry) {
        packages.insert(entry.key(), builtin::strings(entry.value().toObject().value(
                                         QLatin1String("packages"))));
    }
    return packages;
}

Data parse(const QJsonObject& root) {
    Data data;
    for (const QJsonValue& value : root.value(QLatin1String("families")).toArray()) {
        const QJsonObject family = value.toObject();
        data.families.append({{family.value(QLatin1String("label")).toString(),
                               builtin::strings(family.value(QLatin1String("words")))},
                              family.value(QLatin1String("group")).toString(),
                              builtin::strings(family.value(QLatin1String("types"))),
                              builtin::strings(family.value(QLatin1String("icons"))),
                              builtin::strings(family.value(QLatin1String("categories"))),
                              builtin::strings(family.value(QLatin1String("behind")))});
    }
    for (const QJsonValue& value : root.value(QLatin1String("kinds")).toArray()) {
        const QJsonObject kind = value.toObject();
        data.kinds.append({builtin::strings(kind.value(QLatin1String("categories"))),
                           kind.value(QLatin1String("line")).toString()});
    }
    data.notFormats = builtin::strings(root.value(QLatin1String("notFormats")));
    data.containers = builtin::strings(root.value(QLatin1String("containers")));
    data.preferred = packagesByType(root.value(QLatin1String("preferred")).toObject());
    data.unfit = packagesByType(root.value(QLatin1String("unfit")).toObject());
    return data;
}

Data load() {
    return parse(builtin::document(QStringLiteral(":/formats/ranking.json")));
}

const Data& data() {
    static const Data loaded = load();
    return loaded;
}

const QMimeDatabase& database() {
    static const QMimeDatabase mimeDatabase;
    return mimeDatabase;
}

// A MIME name against a pattern whose "*" matches any run of characters.
bool matches(QStringView pattern, QStringView name) {
    const qsizetype star = pattern.indexOf(QLatin1Char('*'));
    if (star < 0) {
        return pattern.compare(name, Qt::CaseInsensitive) == 0;
    }
    if (name.size() < star ||
        pattern.left(star).compare(name.left(star), Qt::CaseInsensitive) != 0) {
        return false;
    }
    const QStringView rest = pattern.mid(star + 1);
    for (qsizetype at = star; at <= name.size(); ++at) {
        if (matches(rest, name.mid(at))) {
            return true;
        }
    }
    return false;
}

int familyNaming(const QStringList& names) {
    const QList<FamilyData>& families = data().families;
    for (qsizetype i = 0; i < families.size(); ++i) {
        for (const QString& pattern : families[i].types) {
            if (std::any_of(names.begin(), names.end(),
                            [&](const QString& name) { return matches(pattern, name); })) {
                return int(i);
            }
        }
    }
    return -1;
}

int familyByIcon(const QString& icon) {
    const QList<FamilyData>& families = data().families;
    for (qsizetype i = 0; i < families.size(); ++i) {
        if (families[i].icons.contains(icon)) {
            return int(i);
        }
    }
    return -1;
}

QStringList ancestorsOf(const QMimeType& type) {
    QStringList ancestors = type.allAncestors();
    ancestors.removeAll(QStringLiteral("application/octet-stream"));
    return ancestors;
}

int familyOf(const QMimeType& type) {
    int family = familyNaming(QStringList{type.name()} + type.aliases());
    if (family < 0) {
        family = familyByIcon(type.genericIconName());
    }
    for (const QString& ancestor : ancestorsOf(type)) {
        if (family >= 0) {
            break;
        }
        family = familyNaming({ancestor});
    }
    return family;
}

bool sameGroup(int a, int b) {
    if (a < 0 || b < 0) {
        return false;
    }
    const QList<FamilyData>& families = data().families;
    return a == b || (!families[a].group.isEmpty() && families[a].group == families[b].group);
}

bool isKin(const Target& target, const QString& type, int family) {
    return target.family >= 0 ? sameGroup(family, target.family)
                              : type == target.type || target.aliases.contains(type);
}

// The part of the file types the program declares that is of the format's
// kind: a specialist's whole list, a program that opens everything a
// sliver of it.
double shareOf(const Target& target, const Traits& program) {
    qsizetype formats = 0;
    qsizetype kin = 0;
    for (qsizetype i = 0; i < program.types.size(); ++i) {
        if (i < program.formats.size() ? program.formats[i] : isFormat(program.types[i])) {
            ++formats;
            kin += isKin(target, program.types[i], program.families.value(i, -1)) ? 1 : 0;
        }
    }
    return formats == 0 ? 0 : double(kin) / double(formats);
}

// One category made for the family counts whole, a second half as much
// (an editor that is also a development tool, for source code).
double categoryFit(const Target& target, const Traits& program) {
    if (target.family < 0) {
        return 0;
    }
    const FamilyData& family = data().families[target.family];
    const auto holds = [&](const QString& category) {
        return program.categories.contains(category);
    };
    if (std::any_of(family.behind.begin(), family.behind.end(), holds)) {
        return -1.5; // a disc burner for a disc image: it writes the image, opens nothing
    }
    const auto fitting = std::count_if(family.categories.begin(), family.categories.end(), holds);
    return fitting == 0 ? 0 : fitting == 1 ? 1 : 1.5;
}

int positionIn(const QHash<QString, QStringList>& table, const Target& target,
               const QString& package) {
    if (package.isEmpty()) {
        return INT_MAX;
    }
    for (const QString& type : QStringList{target.type} + target.aliases) {
        const qsizetype at = table.value(type).indexOf(package);
        if (at >= 0) {
            return int(at);
        }
    }
    return INT_MAX;
}

bool isContainer(const QString& type) {
    const QStringList& containers = data().containers;
    return std::any_of(containers.begin(), containers.end(),
                       [&](const QString& pattern) { return matches(pattern, type); });
}

// The format named after the program (a GIMP image, a Krita document) is
// that program's own: it makes them, where others only show them.
bool isNamesake(const Target& target, const QString& package) {
    if (package.size() < 3) {
        return false;
    }
    const QString comment = target.comment.toCaseFolded();
    const QString name = package.toCaseFolded();
    for (qsizetype at = comment.indexOf(name); at >= 0; at = comment.indexOf(name, at + 1)) {
        const qsizetype end = at + name.size();
        if ((at == 0 || !comment[at - 1].isLetterOrNumber()) &&
            (end == comment.size() || !comment[end].isLetterOrNumber())) {
            return true;
        }
    }
    return false;
}

Tier tierOf(const Target& target, const Traits& program, QString* parent) {
    if (program.types.contains(target.type)) {
        return Tier::Exact;
    }
    for (const QString& alias : target.aliases) {
        if (program.types.contains(alias)) {
            return Tier::Alias;
        }
    }
    for (const QStringList& ancestor : target.ancestors) {
        for (const QString& name : ancestor) {
            if (program.types.contains(name)) {
                *parent = ancestor.first();
                return target.apart.contains(*parent) ? Tier::Parent : Tier::Kind;
            }
        }
    }
    return Tier::None;
}

} // namespace

Target targetFor(const QMimeType& type) {
    Target target{type.name(), type.aliases(), {}, familyOf(type), {}, type.comment(), {}};
    const QStringList parents = type.parentMimeTypes();
    for (const QString& ancestor : ancestorsOf(type)) {
        const QMimeType above = database().mimeTypeForName(ancestor);
        target.ancestors.append(QStringList{ancestor} + above.aliases());
        // A kind of container is one too: what is packed in an apk is packed in a zip.
        const QStringList itsAncestors = ancestorsOf(above);
        if (!parents.contains(ancestor) || isContainer(ancestor) ||
            std::any_of(itsAncestors.begin(), itsAncestors.end(),
                        [](const QString& name) { return isContainer(name); })) {
            target.apart << ancestor;
        }
    }
    return target;
}

int familyOf(const QString& type) {
    const QMimeType known = database().mimeTypeForName(type);
    return known.isValid() ? familyOf(known) : familyNaming({type});
}

QList<int> familiesOf(const QStringList& types) {
    QList<int> families;
    families.reserve(types.size());
    for (const QString& type : types) {
        families << familyOf(type);
    }
    return families;
}

bool isFormat(const QString& type) {
    const QStringList& notFormats = data().notFormats;
    return std::none_of(notFormats.begin(), notFormats.end(),
                        [&](const QString& pattern) { return matches(pattern, type); });
}

// Fit, in order of weight: what the program is for (its share of the
// format's family counts double), the category made for the family, the
// distribution's own choice, a little more for each desktop that ships it,
// and a little for a program whose makers describe it to the catalog: a
// maintained player over an old front end that only has a desktop file.
Fit fitOf(const Target& target, const Traits& program) {
    Fit fit;
    fit.tier = tierOf(target, program, &fit.parent);
    // The advice was written by hand for the format, as the table was.
    const qsizetype advised =
        program.package.isEmpty() ? -1 : target.advised.indexOf(program.package);
    fit.preferred = std::min(positionIn(data().preferred, target, program.package),
                             advised < 0 ? INT_MAX : int(advised));
    fit.unfit = positionIn(data().unfit, target, program.package) != INT_MAX;
    fit.namesake = isNamesake(target, program.package);
    fit.score = 2 * shareOf(target, program) + categoryFit(target, program) +
                (program.desktops > 0 ? 1 + 0.1 * std::min(program.desktops, 8) : 0) +
                (program.described ? 0.5 : 0);
    return fit;
}

bool describedBy(const QString& componentId) {
    QStringView id(componentId);
    if (id.endsWith(QLatin1String(".desktop"))) {
        id.chop(8);
    }
    return id.count(QLatin1Char('.')) >= 2;
}

// A program for what the format is a kind of comes after every program for
// the format itself. The project's table overrides the rest: it exists for
// the format whose right program names it only by an alias.
int compare(const Fit& a, const Fit& b) {
    const bool aParent = a.tier >= Tier::Parent;
    const bool bParent = b.tier >= Tier::Parent;
    if (aParent != bParent) {
        return aParent ? 1 : -1;
    }
    const bool aKind = a.tier == Tier::Kind;
    const bool bKind = b.tier == Tier::Kind;
    if (aKind != bKind) {
        return aKind ? 1 : -1;
    }
    if (a.preferred != b.preferred) {
        return a.preferred < b.preferred ? -1 : 1;
    }
    if (a.tier != b.tier) {
        return a.tier < b.tier ? -1 : 1;
    }
    if (a.namesake != b.namesake) {
        return a.namesake ? -1 : 1;
    }
    if (a.score != b.score) {
        return a.score > b.score ? -1 : 1;
    }
    return 0;
}

QString chineseLine(const QString& line, const QStringList& categories) {
    const bool chinese = std::any_of(line.begin(), line.end(), [](QChar c) {
        return c.unicode() >= 0x3400 && c.unicode() <= 0x9fff;
    });
    if (chinese) {
        return line;
    }
    for (const Kind& kind : data().kinds) {
        if (std::all_of(kind.categories.begin(), kind.categories.end(),
                        [&](const QString& category) { return categories.contains(category); })) {
            return kind.line;
        }
    }
    return line;
}

QList<Family> families() {
    QList<Family> shown;
    for (const FamilyData& family : data().families) {
        shown << family.shown;
    }
    return shown;
}

} // namespace ranking

#include "knowledge.h"

#include "advice.h"
#include "distribution.h"
#include "extensions.h"
#include "formatname.h"
#include "icons.h"
#include "installed.h"
#include "words.h"

#include <QCollator>
#include <QLocale>
#include <QMimeDatabase>
#include <algorithm>
#include <glib.h>
#include <memory>

namespace knowledge {
namespace {

// An installed program judged as the catalog's are; one that GIO offers
// without naming the type or a type above it was chosen for it by the user.
Program programOf(const installed::App& app, bool isDefault, const ranking::Target& target,
                  const catalog::Catalog& catalog) {
    const catalog::Packaged packaged = catalog.packagedAs(app.id);
    ranking::Fit fit =
        ranking::fitOf(target, {app.types, app.families, app.formats, app.categories,
                                packaged.package, packaged.desktops, packaged.described});
    if (fit.tier == ranking::Tier::None) {
        fit.tier = ranking::Tier::Exact;
    }
    return {app.name,  app.id,       ranking::chineseLine(app.description, app.categories),
            isDefault, app.iconFile, packaged.package,
            false,     fit,          /*icon: filled in later*/ {}};
}

Program installedFromCatalog(const catalog::Program& program) {
    return {program.name, program.id,       program.summary,
            false,        program.iconFile, program.package,
            true,         program.fit,      /*icon: filled in later*/ {}};
}

// The default program first, then every other one that declares the type.
QList<Program> installedFor(const ranking::Target& target, const catalog::Catalog& catalog,
                            installed::Programs& programs) {
    const std::shared_ptr<const installed::ForType> found = programs.forType(target.type);
    QList<Program> shown;
    shown.reserve(found->apps.size());
    for (qsizetype i = 0; i < found->apps.size(); ++i) {
        const bool isDefault = i == 0 && found->hasDefault;
        const Program program = programOf(found->apps[i], isDefault, target, catalog);
        // The user's own choice stands even where the program is known not to fit.
        if (!program.fit.unfit || isDefault) {
            shown.append(program);
        }
    }
    return shown;
}

bool hasDesktopEntry(const catalog::Program& program, installed::Programs& programs) {
    return std::any_of(program.desktopIds.begin(), program.desktopIds.end(),
                       [&](const QString& id) { return programs.hasDesktopEntry(id); });
}

bool isListed(const catalog::Program& program, const QList<Program>& installed) {
    return std::any_of(installed.begin(), installed.end(),
                       [&](const Program& shown) { return program.desktopIds.contains(shown.id); });
}

// The catalog's programs that are installed, whether GIO shows them or only
// dpkg knows their package, join the installed ones; the rest stay to be
// installed.
void separateInstalled(QList<catalog::Program>* catalogPrograms, QList<Program>* installed,
                       const Parts& parts) {
    installed::Programs& programs = parts.installed;
    const std::shared_ptr<const QSet<QString>> packages = parts.packages.packages();
    QList<Program> found;
    catalogPrograms->removeIf([&](const catalog::Program& program) {
        const bool isInstalled =
            packages->contains(program.package) || hasDesktopEntry(program, programs);
        if (isInstalled && !isListed(program, *installed)) {
            found << installedFromCatalog(program);
        }
        return isInstalled;
    });
    *installed += found;
}

// The default stays first: it is what opens the file on a double click.
void rankInstalled(QList<Program>* programs) {
    const auto begin = programs->begin() + (!programs->isEmpty() && programs->first().isDefault);
    if (programs->end() - begin < 2) {
        return; // nothing to order, and a collator is dear to make
    }
    QCollator byName(QLocale(QLocale::Chinese, QLocale::China));
    std::stable_sort(begin, programs->end(), [&](const Program& a, const Program& b) {
        const int byFit = ranking::compare(a.fit, b.fit);
        return byFit != 0 ? byFit < 0 : byName.compare(a.name, b.name) < 0;
    });
}

// A package the advice names, as the catalog has it or, for a program the
// catalog does not describe, as the advice does.
std::optional<catalog::Program> advisedProgram(const QString& package,
                                               const ranking::Target& target,
                                               const catalog::Catalog& catalog) {
    std::optional<catalog::Program> program = catalog.programOf(package, target);
    if (!program) {
        const advice::Tool tool = advice::tool(package);
        if (tool.name.isEmpty()) {
            return std::nullopt;
        }
        program =
            catalog::Program{package, tool.name, tool.line, package, {}, {}, {}, 0, {}, false};
    }
    program->fit.tier = ranking::Tier::Exact;
    return program;
}

// What the advice says opens the format stands in its list, so that the
// page never contradicts itself: a program the catalog describes ranks as
// the advice orders them, one it does not (run in a terminal) after the
// format's own; one listed only for a container it is packed in is moved up.
void addAdvised(QList<catalog::Program>* programs, const ranking::Target& target,
                const catalog::Catalog& catalog) {
    for (const QString& package : target.advised) {
        const auto listed =
            std::find_if(programs->begin(), programs->end(), [&](const catalog::Program& program) {
                return program.package == package;
            });
        if (listed != programs->end() && listed->fit.tier < ranking::Tier::Parent) {
            continue;
        }
        if (listed != programs->end()) {
            programs->erase(listed);
        }
        if (std::optional<catalog::Program> program = advisedProgram(package, target, catalog)) {
            programs->append(*program);
        }
    }
    std::stable_sort(programs->begin(), programs->end(),
                     [](const catalog::Program& a, const catalog::Program& b) {
                         return ranking::compare(a.fit, b.fit) < 0;
                     });
}

void iconOf(const QMimeType& type, const icons::Themes& themes, Format* format) {
    for (const QString& name : {type.iconName(), type.genericIconName()}) {
        format->iconFile = themes.file(name);
        if (!format->iconFile.isEmpty()) {
            format->iconName = name;
            return;
        }
    }
}

} // namespace

// What a type's pages say of it before its programs, and what its programs
// are judged against: the same for every page that shows the type.
struct TypeFacts {
    Format format;
    ranking::Target target;
};

namespace {

std::shared_ptr<const TypeFacts> workOutFacts(const QString& name, const Parts& parts) {
    const QMimeType type = parts.mime.mimeTypeForName(name);
    if (!type.isValid()) {
        return nullptr;
    }
    const advice::Advice said = advice::about(type);
    Format format;
    format.mimeType = type.name();
    format.description = filecheck::formatName(type);
    format.maker = said.maker;
    format.howToOpen = said.howToOpen;
    format.opensOnLinux = said.opensOnLinux;
    format.aliases = type.aliases();
    format.parents = type.parentMimeTypes();
    format.suffixes = parts.extensions.of(type);
    iconOf(type, parts.icons, &format);
    format.icon = icons::address(icons::Kind::Type, format.iconName, format.iconFile);
    ranking::Target target = ranking::targetFor(type);
    target.advised = said.packages;
    return std::make_shared<const TypeFacts>(TypeFacts{format, target});
}

bool opensOnlyAParent(const ranking::Fit& fit) {
    return fit.tier == ranking::Tier::Parent;
}

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

bool oneEditApart(QStringView a, QStringView b) {
    if (a.size() > b.size()) {
        std::swap(a, b);
    }
    if (b.size() - a.size() > 1) {
        return false;
    }
    qsizetype i = 0;
    while (i < a.size() && a[i] == b[i]) {
        ++i;
    }
    if (a.size() == b.size()) {
        return i < a.size() && a.mid(i + 1) == b.mid(i + 1);
    }
    return a.mid(i) == b.mid(i + 1);
}

} // namespace

void useSimplifiedChinese() {
    // Descriptions come through QLocale, program names through GLib's language list.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    g_setenv("LANGUAGE", "zh_CN:zh", TRUE);
}

QString pageName(const QString& suffix) {
    return extensions::pageName(suffix);
}

Knowledge::Knowledge(const Parts& parts)
    : m_parts(parts) {}

Knowledge::~Knowledge() = default;

// QMimeDatabase answers every thread through one lock, so each type is asked
// about once, not once per page. Nothing for a name the database does not know.
std::shared_ptr<const TypeFacts> Knowledge::factsOf(const QString& name) {
    return m_typeFacts.get(name,
                           [this](const QString& type) { return workOutFacts(type, m_parts); });
}

QStringList Knowledge::typesNamed(const QString& extension) {
    return m_typesByExtension.get(
        extension, [this](const QString& named) { return m_parts.extensions.typesNamed(named); });
}

QString Knowledge::descriptionOf(const QString& name) {
    if (const std::shared_ptr<const TypeFacts> facts = factsOf(name)) {
        return facts->format.description;
    }
    const QMimeType type = m_parts.mime.mimeTypeForName(name);
    return filecheck::formatName(type);
}

ParentGroup& Knowledge::groupFor(const QString& parent, QList<ParentGroup>* groups) {
    for (ParentGroup& group : *groups) {
        if (group.mimeType == parent) {
            return group;
        }
    }
    groups->append({parent, descriptionOf(parent), {}, {}});
    return groups->last();
}

// Programs for a type above the format go to that type's group, but never
// the default.
void Knowledge::groupByParent(Format* format) {
    for (const Program& program : format->programs) {
        if (opensOnlyAParent(program.fit) && !program.isDefault) {
            groupFor(program.fit.parent, &format->parentGroups).installed << program;
        }
    }
    format->programs.removeIf(
        [](const Program& program) { return opensOnlyAParent(program.fit) && !program.isDefault; });
    for (const catalog::Program& program : format->installable) {
        if (opensOnlyAParent(program.fit)) {
            groupFor(program.fit.parent, &format->parentGroups).installable << program;
        }
    }
    format->installable.removeIf(
        [](const catalog::Program& program) { return opensOnlyAParent(program.fit); });
}

Format Knowledge::formatOf(const TypeFacts& facts, const catalog::Catalog& catalog, Scope scope) {
    Format format = facts.format;
    format.installable = catalog.programsFor(facts.target);
    addAdvised(&format.installable, facts.target, catalog);
    if (scope == Scope::Machine) {
        format.programs = installedFor(facts.target, catalog, m_parts.installed);
        separateInstalled(&format.installable, &format.programs, m_parts);
        rankInstalled(&format.programs);
    }
    groupByParent(&format);
    addIcons(&format);
    return format;
}

void Knowledge::addIcons(Format* format) const {
    const QString generic = QStringLiteral("application-x-executable");
    const QString genericIcon =
        icons::address(icons::Kind::Type, generic, m_parts.icons.file(generic));
    const auto addToInstalled = [&](QList<Program>& programs) {
        for (Program& program : programs) {
            const icons::Kind kind =
                program.fromCatalog ? icons::Kind::Catalog : icons::Kind::Program;
            program.icon = icons::address(kind, program.id, program.iconFile);
            program.icon = program.icon.isEmpty() ? genericIcon : program.icon;
        }
    };
    const auto addToInstallable = [&](QList<catalog::Program>& programs) {
        for (catalog::Program& program : programs) {
            program.icon = icons::address(icons::Kind::Catalog, program.id, program.iconFile);
            program.icon = program.icon.isEmpty() ? genericIcon : program.icon;
        }
    };
    addToInstalled(format->programs);
    addToInstallable(format->installable);
    for (ParentGroup& group : format->parentGroups) {
        addToInstalled(group.installed);
        addToInstallable(group.installable);
    }
}

QStringList iconsOf(const Format& format) {
    QStringList found{format.icon};
    const auto add = [&](const auto& programs) {
        for (const auto& program : programs) {
            found << program.icon;
        }
    };
    add(format.programs);
    add(format.installable);
    for (const ParentGroup& group : format.parentGroups) {
        add(group.installed);
        add(group.installable);
    }
    found.removeAll(QString());
    found.removeDuplicates();
    return found;
}

// A slash or a control character makes no file name the text could end.
QString Knowledge::normalise(const QString& typed) {
    QString extension = typed.trimmed().toCaseFolded();
    while (extension.startsWith(QLatin1Char('.'))) {
        extension.remove(0, 1);
    }
    if (m_parts.extensions.isNamed(extension) || extension.contains(QLatin1Char('/')) ||
        std::any_of(extension.begin(), extension.end(), isControl)) {
        return extension;
    }
    for (qsizetype dot = extension.indexOf(QLatin1Char('.')); dot >= 0;
         dot = extension.indexOf(QLatin1Char('.'), dot + 1)) {
        if (m_parts.extensions.isNamed(extension.mid(dot + 1))) {
            return extension.mid(dot + 1);
        }
    }
    return extension;
}

Answer Knowledge::lookUp(const QString& extension, const catalog::Catalog& catalog, Scope scope) {
    Answer answer{extension, {}, scope == Scope::Machine};
    for (const QString& name : typesNamed(answer.extension)) {
        if (const std::shared_ptr<const TypeFacts> facts = factsOf(name)) {
            answer.formats.append(formatOf(*facts, catalog, scope));
        }
    }
    return answer;
}

std::optional<Format> Knowledge::formatFor(const QString& mimeType, const catalog::Catalog& catalog,
                                           Scope scope) {
    const std::shared_ptr<const TypeFacts> facts = factsOf(mimeType);
    if (!facts) {
        return std::nullopt;
    }
    return formatOf(*facts, catalog, scope);
}

QStringList Knowledge::knownExtensions() {
    return m_parts.extensions.all();
}

QStringList Knowledge::suggestions(const QString& text) {
    if (text.isEmpty()) {
        return {};
    }
    const QStringList all = m_parts.extensions.all();
    QStringList startingWith;
    QStringList nearBy;
    for (const QString& extension : all) {
        if (extension.startsWith(text) && extension != text) {
            startingWith << extension;
        } else if (oneEditApart(extension, text)) {
            nearBy << extension;
        }
    }
    std::stable_sort(startingWith.begin(), startingWith.end(),
                     [](const QString& a, const QString& b) { return a.size() < b.size(); });
    return (startingWith + nearBy).mid(0, 5);
}

void Knowledge::prepare(const QString& extension) {
    for (const QString& name : typesNamed(extension)) {
        const std::shared_ptr<const TypeFacts> facts = factsOf(name);
        // A program that opens only a type above this one is listed under
        // that type's description.
        for (const QStringList& ancestor : facts ? facts->target.ancestors : QList<QStringList>()) {
            factsOf(ancestor.first());
        }
    }
}

void Knowledge::forget() {
    m_typeFacts.forget();
    m_typesByExtension.forget();
}

} // namespace knowledge

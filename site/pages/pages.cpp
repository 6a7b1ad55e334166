#include "pages.h"

#include "addresses.h"
#include "identitynames.h"
#include "template.h"

#include <QFile>
#include <QUrl>
#include <algorithm>

namespace pages {
namespace {

using knowledge::Format;
using knowledge::Program;
using templates::Block;
using templates::Value;
using Page = QByteArray;

constexpr qsizetype compactInstallable = 5;
constexpr qsizetype fullInstallable = 20;
constexpr qsizetype compactFound = 10;
constexpr qsizetype fullFound = 60;
constexpr qsizetype foundExtensions = 4;

// A page is written into one buffer, sized for nearly every page of its kind
// so that it is seldom moved while it grows; the cache keeps a copy cut to size.
constexpr qsizetype compactPageBytes = 8 * 1024;
constexpr qsizetype fullPageBytes = 32 * 1024;

// Who the home page on this machine speaks for, named as the app names them.
const QString vendor = QString::fromUtf8(identity::names::company);
const QString product = QString::fromUtf8(identity::names::applicationTitle);

// Every block of the page templates, each with the names the code below
// gives it values under, in the order it gives them.
struct Blocks {
    // page.html
    Block page{"page", {"title", "bodyClass", "body"}};
    Block navigation{"navigation", {"searchForm"}};
    Block searchForm{"searchForm", {}};
    Block listSeparator{"listSeparator", {}};
    Block image{"image", {"src", "size"}};
    Block noIcon{"noIcon", {"size"}};
    Block extensionLink{"extensionLink", {"href", "extension"}};
    // home.html
    Block homeTitle{"homeTitle", {"vendor"}};
    Block home{"home", {"vendor", "product"}};
    Block visitorsTitle{"visitorsTitle", {}};
    Block visitorsHome{"visitorsHome", {}};
    // format.html
    Block lookupTitle{"lookupTitle", {"extension", "about"}};
    Block fullTitle{"fullTitle", {"extension"}};
    Block severalFormats{"severalFormats", {"count"}};
    Block compactHeading{"compactHeading", {"icon", "extension", "about"}};
    Block formatRule{"formatRule", {}};
    Block fullHeadingOne{"fullHeadingOne", {"icon", "extension"}};
    Block fullHeadingSeveral{"fullHeadingSeveral", {"icon", "extension", "count"}};
    Block footerMachine{"footerMachine", {}};
    Block footerPublic{"footerPublic", {}};
    Block compactName{"compactName", {"icon", "name"}};
    Block compactType{"compactType", {"type"}};
    Block compactInstalled{"compactInstalled", {"list"}};
    Block adviceMaker{"adviceMaker", {"maker"}};
    Block adviceHowTo{"adviceHowTo", {"howTo"}};
    Block adviceBoth{"adviceBoth", {"maker", "howTo"}};
    Block answer{"answer", {"howTo"}};
    Block parentNote{"parentNote", {"count", "parent"}};
    Block fullSection{"fullSection", {"icon", "name", "facts", "programs"}};
    Block facts{"facts", {"type", "aliases", "parents", "extensions"}};
    Block code{"code", {"text"}};
    Block noneListed{"noneListed", {}};
    Block fullMaker{"fullMaker", {"maker"}};
    Block fullHowTo{"fullHowTo", {"howTo"}};
    Block fullInstalled{"fullInstalled", {"list"}};
    Block parentGroup{"parentGroup", {"parent", "type"}};
    Block apps{"apps", {"items"}};
    Block installed{"installed", {"icon", "name", "tags", "details"}};
    Block defaultTag{"defaultTag", {}};
    Block installedTag{"installedTag", {}};
    Block packageDetails{"packageDetails", {"package"}};
    Block programDetails{"programDetails", {"id"}};
    Block programDetailsDescribed{"programDetailsDescribed", {"id", "description"}};
    Block noneInstalled{"noneInstalled", {}};
    Block noneOnMachine{"noneOnMachine", {}};
    Block installableCompact{"installableCompact", {"list"}};
    Block installableFull{"installableFull", {"list"}};
    Block installableItemCompact{"installableItemCompact", {"icon", "name", "command"}};
    Block installableItemFull{"installableItemFull",
                              {"icon", "name", "summary", "package", "siblings", "id", "command"}};
    Block installCommand{"installCommand", {"package"}};
    Block siblings{"siblings", {"count"}};
    Block moreInstallable{"moreInstallable", {"count"}};
    Block noneInCatalog{"noneInCatalog", {}};
    Block noneOnLinux{"noneOnLinux", {}};
    Block noCatalog{"noCatalog", {}};
    // file.html
    Block fileTitle{"fileTitle", {"what"}};
    Block unknownType{"unknownType", {}};
    Block notice{"notice", {"text"}};
    Block fileFormat{"fileFormat", {"icon", "description"}};
    Block fileType{"fileType", {"type"}};
    Block fileUnknown{"fileUnknown", {}};
    Block noExtension{"noExtension", {}};
    Block unknownExtension{"unknownExtension", {"extension"}};
    Block byName{"byName", {"extension", "href", "names"}};
    // search.html
    Block searchTitle{"searchTitle", {}};
    Block searchPage{"searchPage", {"searchForm"}};
    Block notFoundTitle{"notFoundTitle", {"extension"}};
    Block notFound{"notFound", {"extension", "suggestions", "searchForm"}};
    Block suggestions{"suggestions", {"links"}};
    Block wordTitle{"wordTitle", {"word"}};
    Block wordResults{"wordResults", {"title", "word", "count", "list", "searchForm"}};
    Block found{"found", {"items"}};
    Block foundItem{"foundItem", {"links", "description"}};
    Block moreFound{"moreFound", {"count"}};
    Block moreFoundCompact{"moreFoundCompact", {"count"}};
    Block noSuchPageTitle{"noSuchPageTitle", {}};
    Block noSuchPage{"noSuchPage", {}};
};

const Blocks& blocks() {
    static const Blocks all;
    return all;
}

const Value nothing = Value::html({});

QStringView bodyClass(bool full) {
    return full ? QStringView(u"full") : QStringView(u"compact");
}

QByteArray document(qsizetype expected, const Value& title, QStringView bodyClass,
                    const Value& body) {
    Page page;
    page.reserve(expected);
    blocks().page.render(page, {title, bodyClass, body});
    return page;
}

// Each item, with the list separator between two.
template <typename List, typename Write> void joined(Page& page, const List& items, Write&& write) {
    bool first = true;
    for (const auto& item : items) {
        if (!first) {
            blocks().listSeparator.render(page);
        }
        first = false;
        write(item);
    }
}

// A link's target as an attribute value: one path segment, encoded.
QString segment(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString fullAddress(const QString& extension) {
    return addresses::pagePath(addresses::Page::Search, extension);
}

QString compactAddress(const QString& extension) {
    return addresses::pagePath(addresses::Page::Lookup, extension);
}

QString pageAddress(const QString& extension, bool full) {
    return full ? fullAddress(extension) : compactAddress(extension);
}

void image(Page& page, const QString& address, int size) {
    if (!address.isEmpty()) {
        blocks().image.render(page, {address, size});
    }
}

// A program with no icon at all keeps the room, so that names stand in one column.
void iconOrRoom(Page& page, const QString& address, int size) {
    if (address.isEmpty()) {
        blocks().noIcon.render(page, {size});
    } else {
        image(page, address, size);
    }
}

void typeIcon(Page& page, const Format& format, int size) {
    image(page, format.icon, size);
}

void programIcon(Page& page, const Program& program, int size) {
    iconOrRoom(page, program.icon, size);
}

void catalogIcon(Page& page, const catalog::Program& program, int size) {
    iconOrRoom(page, program.icon, size);
}

const QString& describe(const Format& format) {
    return format.description.isEmpty() ? format.mimeType : format.description;
}

void searchForm(Page& page) {
    blocks().searchForm.render(page);
}

void navigation(Page& page) {
    blocks().navigation.render(page, {Value::fill([](Page& into) { searchForm(into); })});
}

void codeList(Page& page, const QStringList& items) {
    if (items.isEmpty()) {
        blocks().noneListed.render(page);
        return;
    }
    joined(page, items, [&](const QString& item) { blocks().code.render(page, {item}); });
}

// Each extension as its patterns spell it (.C), linked under the name its
// page has (c).
void extensionLinks(Page& page, const QStringList& suffixes) {
    if (suffixes.isEmpty()) {
        blocks().noneListed.render(page);
        return;
    }
    joined(page, suffixes, [&](const QString& suffix) {
        blocks().extensionLink.render(page, {fullAddress(knowledge::pageName(suffix)), suffix});
    });
}

void tags(Page& page, const Program& program, bool withDetails) {
    if (program.isDefault) {
        blocks().defaultTag.render(page);
    } else if (program.fromCatalog && withDetails) {
        blocks().installedTag.render(page);
    }
}

void installedDetails(Page& page, const Program& program) {
    const Blocks& b = blocks();
    if (program.fromCatalog) {
        b.packageDetails.render(page, {program.package});
    } else if (program.description.isEmpty()) {
        b.programDetails.render(page, {program.id});
    } else {
        b.programDetailsDescribed.render(page, {program.id, program.description});
    }
}

void installedItems(Page& page, const QList<Program>& programs, bool withDetails) {
    for (const Program& program : programs) {
        const auto details = [&](Page& into) {
            installedDetails(into, program);
        };
        blocks().installed.render(
            page,
            {Value::fill([&](Page& into) { programIcon(into, program, withDetails ? 32 : 16); }),
             program.name, Value::fill([&](Page& into) { tags(into, program, withDetails); }),
             withDetails ? Value::fill(details) : nothing});
    }
}

void installedList(Page& page, const Format& format, bool withDetails) {
    const Blocks& b = blocks();
    if (format.programs.isEmpty()) {
        (format.opensOnLinux ? b.noneInstalled : b.noneOnMachine).render(page);
        return;
    }
    b.apps.render(page, {Value::fill([&](Page& into) {
                      installedItems(into, format.programs, withDetails);
                  })});
}

// Debian package names; anything else from a catalog is not offered as a command.
bool isPackageName(const QString& name) {
    const auto allowed = [](QChar c, bool first) {
        const char16_t u = c.unicode();
        return (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') ||
               (!first && (u == u'.' || u == u'+' || u == u'-'));
    };
    return name.size() >= 2 && allowed(name.front(), true) &&
           std::all_of(name.begin() + 1, name.end(), [&](QChar c) { return allowed(c, false); });
}

void installCommand(Page& page, const catalog::Program& program) {
    if (isPackageName(program.package)) {
        blocks().installCommand.render(page, {program.package});
    }
}

void installableItem(Page& page, const catalog::Program& program, bool full) {
    const Blocks& b = blocks();
    const auto command = [&](Page& into) {
        installCommand(into, program);
    };
    if (!full) {
        b.installableItemCompact.render(
            page, {Value::fill([&](Page& into) { catalogIcon(into, program, 24); }), program.name,
                   Value::fill(command)});
        return;
    }
    const auto siblings = [&](Page& into) {
        if (program.siblings > 0) {
            b.siblings.render(into, {program.siblings});
        }
    };
    b.installableItemFull.render(
        page, {Value::fill([&](Page& into) { catalogIcon(into, program, 48); }), program.name,
               program.summary, program.package, Value::fill(siblings), segment(program.id),
               Value::fill(command)});
}

void installableItems(Page& page, const QList<catalog::Program>& programs, bool full) {
    const qsizetype cap = full ? fullInstallable : compactInstallable;
    blocks().apps.render(page, {Value::fill([&](Page& into) {
                             for (qsizetype i = 0; i < programs.size() && i < cap; ++i) {
                                 installableItem(into, programs[i], full);
                             }
                         })});
    if (programs.size() > cap) {
        blocks().moreInstallable.render(page, {programs.size() - cap});
    }
}

void installableList(Page& page, const Format& format, const Catalog& catalog, bool full) {
    const Blocks& b = blocks();
    if (!catalog.installed) {
        b.noCatalog.render(page);
        return;
    }
    if (!catalog.available) {
        return;
    }
    const auto list = [&](Page& into) {
        if (!format.installable.isEmpty()) {
            installableItems(into, format.installable, full);
        } else {
            (format.opensOnLinux ? b.noneInCatalog : b.noneOnLinux).render(into);
        }
    };
    (full ? b.installableFull : b.installableCompact).render(page, {Value::fill(list)});
}

// A name set into a Chinese sentence, a blank on each side where it begins
// or ends in Latin letters ("作为 Zip 归档打开").
void spacedInText(Page& page, const QString& name) {
    const auto isLatin = [](QChar c) {
        return c.unicode() < 0x80 && c.isLetterOrNumber();
    };
    if (name.isEmpty()) {
        return;
    }
    if (isLatin(name.front())) {
        page += ' ';
    }
    templates::appendEscaped(page, name);
    if (isLatin(name.back())) {
        page += ' ';
    }
}

qsizetype parentProgramCount(const Format& format) {
    qsizetype count = 0;
    for (const knowledge::ParentGroup& group : format.parentGroups) {
        count += group.installed.size() + group.installable.size();
    }
    return count;
}

// The pane lists no program that opens only a type above the format; where
// nothing else opens it, it says that some do.
void compactParentNote(Page& page, const Format& format) {
    if (!format.programs.isEmpty() || !format.installable.isEmpty() ||
        format.parentGroups.isEmpty()) {
        return;
    }
    const QString& parent = format.parentGroups.first().description;
    blocks().parentNote.render(page, {parentProgramCount(format), Value::fill([&](Page& into) {
                                          spacedInText(into, parent);
                                      })});
}

void parentGroup(Page& page, const knowledge::ParentGroup& group, const Catalog& catalog) {
    const Blocks& b = blocks();
    const bool showInstallable = catalog.available && !group.installable.isEmpty();
    if (group.installed.isEmpty() && !showInstallable) {
        return;
    }
    b.parentGroup.render(
        page,
        {Value::fill([&](Page& into) { spacedInText(into, group.description); }), group.mimeType});
    if (!group.installed.isEmpty()) {
        b.apps.render(
            page, {Value::fill([&](Page& into) { installedItems(into, group.installed, true); })});
    }
    if (showInstallable) {
        installableItems(page, group.installable, true);
    }
}

// One line in the pane, so the programs stay in view; where no program here
// opens the format, how to open it is the answer, and is shown whole.
void compactAdvice(Page& page, const Format& format) {
    const Blocks& b = blocks();
    const bool adviceIsTheAnswer =
        !format.opensOnLinux || (format.programs.isEmpty() && format.installable.isEmpty());
    const bool maker = !format.maker.isEmpty();
    const bool howTo = !format.howToOpen.isEmpty() && !adviceIsTheAnswer;
    if (maker && howTo) {
        b.adviceBoth.render(page, {format.maker, format.howToOpen});
    } else if (maker) {
        b.adviceMaker.render(page, {format.maker});
    } else if (howTo) {
        b.adviceHowTo.render(page, {format.howToOpen});
    }
    if (!format.howToOpen.isEmpty() && adviceIsTheAnswer) {
        b.answer.render(page, {format.howToOpen});
    }
}

void fullAdvice(Page& page, const Format& format) {
    if (!format.maker.isEmpty()) {
        blocks().fullMaker.render(page, {format.maker});
    }
    if (!format.howToOpen.isEmpty()) {
        blocks().fullHowTo.render(page, {format.howToOpen});
    }
}

void compactSection(Page& page, const Format& format, const Catalog& catalog, bool named,
                    bool describesMachine) {
    const Blocks& b = blocks();
    if (named) {
        b.compactName.render(
            page, {Value::fill([&](Page& into) { typeIcon(into, format, 16); }), describe(format)});
    }
    b.compactType.render(page, {format.mimeType});
    compactAdvice(page, format);
    if (describesMachine) {
        b.compactInstalled.render(
            page, {Value::fill([&](Page& into) { installedList(into, format, false); })});
    }
    installableList(page, format, catalog, false);
    compactParentNote(page, format);
}

void facts(Page& page, const Format& format) {
    blocks().facts.render(
        page, {format.mimeType, Value::fill([&](Page& into) { codeList(into, format.aliases); }),
               Value::fill([&](Page& into) { codeList(into, format.parents); }),
               Value::fill([&](Page& into) { extensionLinks(into, format.suffixes); })});
}

void fullPrograms(Page& page, const Format& format, const Catalog& catalog, bool describesMachine) {
    fullAdvice(page, format);
    if (describesMachine) {
        blocks().fullInstalled.render(
            page, {Value::fill([&](Page& into) { installedList(into, format, true); })});
    }
    installableList(page, format, catalog, true);
    for (const knowledge::ParentGroup& group : format.parentGroups) {
        parentGroup(page, group, catalog);
    }
}

void fullSection(Page& page, const Format& format, const Catalog& catalog, bool describesMachine) {
    blocks().fullSection.render(
        page, {Value::fill([&](Page& into) { typeIcon(into, format, 32); }), describe(format),
               Value::fill([&](Page& into) { facts(into, format); }), Value::fill([&](Page& into) {
                   fullPrograms(into, format, catalog, describesMachine);
               })});
}

// Links to the compact or the full pages of the first extensions.
void pageLinks(Page& page, const QStringList& extensions, qsizetype cap, bool full) {
    for (qsizetype i = 0; i < extensions.size() && i < cap; ++i) {
        if (i > 0) {
            blocks().listSeparator.render(page);
        }
        blocks().extensionLink.render(page, {pageAddress(extensions[i], full), extensions[i]});
    }
}

void suggestionList(Page& page, const QStringList& suggestions, bool full) {
    if (suggestions.isEmpty()) {
        return;
    }
    blocks().suggestions.render(page, {Value::fill([&](Page& into) {
                                    pageLinks(into, suggestions, suggestions.size(), full);
                                })});
}

void foundList(Page& page, const QList<words::Found>& found, bool full) {
    const Blocks& b = blocks();
    const qsizetype cap = full ? fullFound : compactFound;
    const auto items = [&](Page& into) {
        for (qsizetype i = 0; i < found.size() && i < cap; ++i) {
            const words::Found& one = found[i];
            b.foundItem.render(into, {Value::fill([&](Page& links) {
                                          pageLinks(links, one.extensions, foundExtensions, full);
                                      }),
                                      one.description});
        }
    };
    b.found.render(page, {Value::fill(items)});
    if (found.size() > cap) {
        (full ? b.moreFound : b.moreFoundCompact).render(page, {found.size() - cap});
    }
}

// The public site's home: a visitor came by a link or a search engine, has
// no app and no machine of ours, and wants the search box first.
QByteArray visitorsHome() {
    const Blocks& b = blocks();
    return document(compactPageBytes,
                    Value::fill([&](Page& into) { b.visitorsTitle.render(into); }), u"full",
                    Value::fill([&](Page& into) {
                        navigation(into);
                        b.visitorsHome.render(into);
                    }));
}

bool isFormat(const Format& format, const QString& type) {
    return format.mimeType == type || format.aliases.contains(type);
}

void noticeList(Page& page, const QStringList& notices) {
    for (const QString& notice : notices) {
        blocks().notice.render(page, {notice});
    }
}

// What the extension would have meant, when the content is something else.
void byNameNote(Page& page, const FileAnswer& answer) {
    const Blocks& b = blocks();
    if (answer.extension.isEmpty()) {
        b.noExtension.render(page);
        return;
    }
    const bool agrees =
        std::any_of(answer.byName.begin(), answer.byName.end(),
                    [&](const Format& format) { return isFormat(format, answer.type); });
    if (agrees || answer.type.isEmpty()) {
        return;
    }
    if (answer.byName.isEmpty()) {
        b.unknownExtension.render(page, {answer.extension});
        return;
    }
    const auto names = [&](Page& into) {
        joined(into, answer.byName,
               [&](const Format& format) { templates::appendEscaped(into, describe(format)); });
    };
    b.byName.render(page, {answer.extension, compactAddress(answer.extension), Value::fill(names)});
}

void fileHeading(Page& page, const FileAnswer& answer) {
    const Blocks& b = blocks();
    if (answer.format) {
        b.fileFormat.render(page,
                            {Value::fill([&](Page& into) { typeIcon(into, *answer.format, 24); }),
                             describe(*answer.format)});
    } else if (!answer.type.isEmpty()) {
        b.fileType.render(page, {answer.type});
    } else {
        b.fileUnknown.render(page);
    }
}

void fileBody(Page& page, const FileAnswer& answer, const Catalog& catalog) {
    // What the extension would have meant comes straight under the answer,
    // where the pane shows it without scrolling.
    noticeList(page, answer.notices);
    fileHeading(page, answer);
    byNameNote(page, answer);
    if (answer.format) {
        compactSection(page, *answer.format, catalog, false, answer.describesMachine);
    } else if (answer.type.isEmpty()) {
        for (const Format& format : answer.byName) {
            compactSection(page, format, catalog, true, answer.describesMachine);
        }
    }
}

void fileTitle(Page& page, const FileAnswer& answer) {
    const Blocks& b = blocks();
    const auto unknown = [&](Page& into) {
        b.unknownType.render(into);
    };
    b.fileTitle.render(page, {answer.format           ? Value(describe(*answer.format))
                              : answer.type.isEmpty() ? Value::fill(unknown)
                                                      : Value(answer.type)});
}

} // namespace

QByteArray fileAnswer(const FileAnswer& answer, const Catalog& catalog) {
    return document(compactPageBytes, Value::fill([&](Page& into) { fileTitle(into, answer); }),
                    bodyClass(false),
                    Value::fill([&](Page& into) { fileBody(into, answer, catalog); }));
}

QByteArray styleSheet() {
    static const QByteArray style = [] {
        QFile file(QStringLiteral(":/pages/style.css"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return style;
}

QByteArray compact(const knowledge::Answer& answer, const Catalog& catalog) {
    const Blocks& b = blocks();
    const Format& first = answer.formats.first();
    const bool several = answer.formats.size() > 1;
    // With several formats the heading names the extension alone, and each
    // format names itself.
    const auto about = [&](Page& into) {
        if (several) {
            b.severalFormats.render(into, {answer.formats.size()});
        } else {
            templates::appendEscaped(into, describe(first));
        }
    };
    const auto body = [&](Page& into) {
        b.compactHeading.render(into, {Value::fill([&](Page& icon) { typeIcon(icon, first, 24); }),
                                       answer.extension, Value::fill(about)});
        for (qsizetype i = 0; i < answer.formats.size(); ++i) {
            if (i > 0) {
                b.formatRule.render(into);
            }
            compactSection(into, answer.formats[i], catalog, several, answer.describesMachine);
        }
    };
    return document(compactPageBytes, Value::fill([&](Page& into) {
                        b.lookupTitle.render(into, {answer.extension, Value::fill(about)});
                    }),
                    bodyClass(false), Value::fill(body));
}

QByteArray full(const knowledge::Answer& answer, const Catalog& catalog) {
    const Blocks& b = blocks();
    const auto body = [&](Page& into) {
        navigation(into);
        const auto icon = [&](Page& image) {
            typeIcon(image, answer.formats.first(), 48);
        };
        if (answer.formats.size() > 1) {
            b.fullHeadingSeveral.render(
                into, {Value::fill(icon), answer.extension, answer.formats.size()});
        } else {
            b.fullHeadingOne.render(into, {Value::fill(icon), answer.extension});
        }
        for (const Format& format : answer.formats) {
            fullSection(into, format, catalog, answer.describesMachine);
        }
        (answer.describesMachine ? b.footerMachine : b.footerPublic).render(into);
    };
    return document(fullPageBytes,
                    Value::fill([&](Page& into) { b.fullTitle.render(into, {answer.extension}); }),
                    bodyClass(true), Value::fill(body));
}

QByteArray home(bool forVisitors) {
    if (forVisitors) {
        return visitorsHome();
    }
    const Blocks& b = blocks();
    return document(compactPageBytes,
                    Value::fill([&](Page& into) { b.homeTitle.render(into, {vendor}); }), u"full",
                    Value::fill([&](Page& into) {
                        navigation(into);
                        b.home.render(into, {vendor, product});
                    }));
}

QByteArray notFound(const QString& extension, const QStringList& suggestions, bool full) {
    const Blocks& b = blocks();
    const auto form = [](Page& into) {
        searchForm(into);
    };
    const auto body = [&](Page& into) {
        if (full) {
            navigation(into);
        }
        b.notFound.render(into, {extension, Value::fill([&](Page& links) {
                                     suggestionList(links, suggestions, full);
                                 }),
                                 full ? nothing : Value::fill(form)});
    };
    return document(full ? fullPageBytes : compactPageBytes,
                    Value::fill([&](Page& into) { b.notFoundTitle.render(into, {extension}); }),
                    bodyClass(full), Value::fill(body));
}

QByteArray wordResults(const QString& word, const QList<words::Found>& found, bool full) {
    const Blocks& b = blocks();
    const auto title = [&](Page& into) {
        b.wordTitle.render(into, {word});
    };
    const auto form = [](Page& into) {
        searchForm(into);
    };
    const auto body = [&](Page& into) {
        if (full) {
            navigation(into);
        }
        b.wordResults.render(into, {Value::fill(title), word, found.size(),
                                    Value::fill([&](Page& list) { foundList(list, found, full); }),
                                    full ? nothing : Value::fill(form)});
    };
    return document(full ? fullPageBytes : compactPageBytes, Value::fill(title), bodyClass(full),
                    Value::fill(body));
}

QByteArray searchPage(bool full) {
    const Blocks& b = blocks();
    const auto form = [](Page& into) {
        searchForm(into);
    };
    return document(compactPageBytes, Value::fill([&](Page& into) { b.searchTitle.render(into); }),
                    bodyClass(full), Value::fill([&](Page& into) {
                        if (full) {
                            navigation(into);
                        }
                        b.searchPage.render(into, {full ? nothing : Value::fill(form)});
                    }));
}

QByteArray noSuchPage() {
    const Blocks& b = blocks();
    return document(compactPageBytes,
                    Value::fill([&](Page& into) { b.noSuchPageTitle.render(into); }), u"full",
                    Value::fill([&](Page& into) {
                        navigation(into);
                        b.noSuchPage.render(into);
                    }));
}

QStringList templateProblems() {
    blocks();
    return templates::Library::site().problems();
}

} // namespace pages

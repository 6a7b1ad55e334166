#include "pages.h"

#include "addresses.h"
#include "identitynames.h"
#include "sitelog.h"
#include "template.h"

#include <QUrl>
#include <algorithm>
#include <utility>

namespace pages {
namespace {

using knowledge::Format;
using knowledge::Program;
using templates::Value;
using Page = QByteArray;

// The site's templates, from :/pages, read at first use.
const templates::Library& library() {
    static const templates::Library site(QStringLiteral(":/pages"), lcSite);
    return site;
}

struct Block : templates::Block {
    Block(const char* name, std::initializer_list<const char*> names)
        : templates::Block(library(), name, names) {}
};

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
    Block navigation{"navigation", {"product", "searchForm"}};
    Block masthead{"masthead", {"product"}};
    Block footerVisitors{"footerVisitors", {"product", "vendor", "dated", "about"}};
    Block footerMachine{"footerMachine", {"product", "dated", "about"}};
    Block dated{"dated", {"date"}};
    Block searchForm{"searchForm", {}};
    Block listSeparator{"listSeparator", {}};
    Block image{"image", {"src", "size"}};
    Block noIcon{"noIcon", {"size"}};
    Block extensionLink{"extensionLink", {"href", "extension"}};
    Block canonicalLink{"canonicalLink", {"href"}};
    Block descriptionMeta{"descriptionMeta", {"content"}};
    Block searchLink{"searchLink", {"product"}};
    // home.html
    Block homeTitle{"homeTitle", {"vendor"}};
    Block home{"home", {"vendor", "product"}};
    Block visitorsTitle{"visitorsTitle", {"product"}};
    Block visitorsSummary{"visitorsSummary", {}};
    Block visitorsHome{"visitorsHome", {}};
    // format.html
    Block lookupTitle{"lookupTitle", {"extension", "about"}};
    Block fullTitle{"fullTitle", {"extension"}};
    Block lookupSummary{"lookupSummary", {"extension", "names", "howTo"}};
    Block summaryName{"summaryName", {"name"}};
    Block summaryNameAfter{"summaryNameAfter", {"name"}};
    Block summaryHowTo{"summaryHowTo", {"howTo"}};
    Block severalFormats{"severalFormats", {"count"}};
    Block compactHeading{"compactHeading", {"icon", "extension", "about"}};
    Block formatRule{"formatRule", {}};
    Block fullHeadingOne{"fullHeadingOne", {"icon", "extension"}};
    Block fullHeadingSeveral{"fullHeadingSeveral", {"icon", "extension", "count"}};
    Block compactName{"compactName", {"icon", "name"}};
    Block compactType{"compactType", {"type"}};
    Block compactInstalled{"compactInstalled", {"list"}};
    Block maker{"maker", {"maker"}};
    Block howTo{"howTo", {"howTo"}};
    Block parentNote{"parentNote", {"count", "parent", "more"}};
    Block fullPageLink{"fullPageLink", {"href"}};
    Block fullPageText{"fullPageText", {}};
    Block fullSection{"fullSection", {"icon", "name", "facts", "programs"}};
    Block facts{"facts", {"type", "aliases", "parents", "extensions"}};
    Block code{"code", {"text"}};
    Block noneListed{"noneListed", {}};
    Block fullInstalled{"fullInstalled", {"list"}};
    Block parentGroup{"parentGroup", {"parent", "type"}};
    Block apps{"apps", {"items"}};
    Block installed{"installed", {"icon", "name", "tags", "details", "actions"}};
    Block defaultTag{"defaultTag", {}};
    Block installedTag{"installedTag", {}};
    Block packageDetails{"packageDetails", {"package"}};
    Block programDetails{"programDetails", {"id"}};
    Block programDetailsDescribed{"programDetailsDescribed", {"id", "description"}};
    Block noneInstalled{"noneInstalled", {}};
    Block noneOnMachine{"noneOnMachine", {}};
    Block installableCompact{"installableCompact", {"list"}};
    Block installableFull{"installableFull", {"list"}};
    Block installableItemCompact{"installableItemCompact", {"icon", "name", "command", "actions"}};
    Block installableItemFull{"installableItemFull",
                              {"icon", "name", "summary", "ownSummary", "package", "siblings",
                               "centre", "command", "actions"}};
    Block ownSummary{"ownSummary", {"summary"}};
    Block centreLink{"centreLink", {"id"}};
    Block installCommand{"installCommand", {"package"}};
    Block commandAside{"commandAside", {"command"}};
    Block actions{"actions", {"links"}};
    Block openAction{"openAction", {"href", "name"}};
    Block defaultAction{"defaultAction", {"href", "name"}};
    Block installAction{"installAction", {"href", "name"}};
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
    Block moreFoundCompact{"moreFoundCompact", {"count", "href"}};
    Block noSuchPageTitle{"noSuchPageTitle", {}};
    Block noSuchPage{"noSuchPage", {}};
    Block actionTitle{"actionTitle", {"product"}};
    Block actionElsewhere{"actionElsewhere", {"product"}};
    // about.html
    Block aboutTitle{"aboutTitle", {"product"}};
    Block aboutSummary{"aboutSummary", {"product"}};
    Block about{"about", {"product", "vendor", "dated"}};
};

const Blocks& blocks() {
    static const Blocks all;
    return all;
}

const Value nothing = Value::html({});

// Whom a page is for. One the site serves to its own user's app lists the
// programs installed here and carries buttons that the app carries out; an
// exported or public page, read by people with neither this machine nor the
// app, has neither. A page for a file given to the app also offers to open it.
struct Audience {
    bool machine = false;
    bool file = false;
};
constexpr Audience anyone{};

// An action's link, or nothing where a name does not fit the form the app
// takes: no button is better than one the app turns down.
QString actionHref(const addresses::ActionRequest& request) {
    const QString path = addresses::actionPath(request);
    return addresses::actionOf(QUrl(path)) ? path : QString();
}

QString spacedInText(const QString& name);

// The buttons for one program, each naming it where it tells what it does.
void actionButtons(Page& page, const QString& name,
                   const QList<std::pair<const Block*, QString>>& links) {
    const bool any = std::any_of(links.begin(), links.end(),
                                 [](const auto& link) { return !link.second.isEmpty(); });
    if (!any) {
        return;
    }
    const QString named = spacedInText(name);
    blocks().actions.render(page, {Value::fill([&](Page& into) {
                                for (const auto& [block, href] : links) {
                                    if (!href.isEmpty()) {
                                        block->render(into, {href, named});
                                    }
                                }
                            })});
}

thread_local Frame currentFrame;

// "2026年12月8日", or nothing when the data's date is unknown.
void dated(Page& page) {
    const QDate date = currentFrame.dataDate ? currentFrame.dataDate() : QDate();
    if (date.isValid()) {
        const QString text =
            QStringLiteral("%1年%2月%3日").arg(date.year()).arg(date.month()).arg(date.day());
        blocks().dated.render(page, {text});
    }
}

// The pane's compact page stays light: the app's window names it, and it
// has an About window of its own. Every other page says whose it is.
void footer(Page& page, bool full) {
    const Blocks& b = blocks();
    const QString about = QString::fromLatin1(addresses::aboutPath);
    const auto date = [](Page& into) {
        dated(into);
    };
    if (currentFrame.forVisitors) {
        b.footerVisitors.render(page, {product, vendor, Value::fill(date), about});
    } else if (full) {
        b.footerMachine.render(page, {product, Value::fill(date), about});
    }
}

QStringView bodyClass(bool full) {
    return full ? QStringView(u"full") : QStringView(u"compact");
}

// A full page names the site in its navigation; a visitor's compact page,
// which has none, above its answer.
QByteArray document(qsizetype expected, const Value& title, QStringView bodyClass,
                    const Value& body) {
    const bool full = bodyClass != u"compact";
    const auto framed = [&](Page& into) {
        if (!full && currentFrame.forVisitors) {
            blocks().masthead.render(into, {product});
        }
        body.appendTo(into, true);
        footer(into, full);
    };
    Page page;
    page.reserve(expected);
    blocks().page.render(page, {title, bodyClass, Value::fill(framed)});
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
    blocks().navigation.render(page, {product, Value::fill([](Page& into) { searchForm(into); })});
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

// Make it the default for the type, unless it is already; open the page's
// file with it. A package without a desktop entry has nothing the app could start.
void installedActions(Page& page, const Program& program, const QString& type, Audience audience) {
    using addresses::Action;
    if (!audience.machine || program.fromCatalog) {
        return;
    }
    const Blocks& b = blocks();
    // Opening last, so that its button stands at the same place on every line.
    actionButtons(
        page, program.name,
        {{&b.defaultAction, program.isDefault
                                ? QString()
                                : actionHref({Action::SetDefault, program.id, type, {}, {}})},
         {&b.openAction,
          audience.file ? actionHref({Action::Open, program.id, {}, {}, {}}) : QString()}});
}

// The programs that open the type, each with what the audience may do with it.
void installedItems(Page& page, const QList<Program>& programs, bool withDetails,
                    const QString& type, Audience audience) {
    for (const Program& program : programs) {
        const auto details = [&](Page& into) {
            installedDetails(into, program);
        };
        blocks().installed.render(
            page,
            {Value::fill([&](Page& into) { programIcon(into, program, withDetails ? 32 : 16); }),
             program.name, Value::fill([&](Page& into) { tags(into, program, withDetails); }),
             withDetails ? Value::fill(details) : nothing,
             Value::fill([&](Page& into) { installedActions(into, program, type, audience); })});
    }
}

void installedList(Page& page, const Format& format, bool withDetails, Audience audience) {
    const Blocks& b = blocks();
    if (format.programs.isEmpty()) {
        (format.opensOnLinux ? b.noneInstalled : b.noneOnMachine).render(page);
        return;
    }
    b.apps.render(page, {Value::fill([&](Page& into) {
                      installedItems(into, format.programs, withDetails, format.mimeType, audience);
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

// The catalog's component goes with the package, for a software centre to
// show; where its id does not fit, the package alone.
QString installHref(const catalog::Program& program) {
    using addresses::Action;
    const QString withComponent =
        actionHref({Action::Install, {}, {}, program.package, program.id});
    return withComponent.isEmpty() ? actionHref({Action::Install, {}, {}, program.package, {}})
                                   : withComponent;
}

// Where the app can install it, its button comes first and the command stays
// beside it, small, for whoever wants a terminal.
void installableItem(Page& page, const catalog::Program& program, bool full, Audience audience) {
    const Blocks& b = blocks();
    const QString install = audience.machine ? installHref(program) : QString();
    const auto command = [&](Page& into) {
        if (install.isEmpty()) {
            installCommand(into, program);
            return;
        }
        b.commandAside.render(into,
                              {Value::fill([&](Page& code) { installCommand(code, program); })});
    };
    const auto button = [&](Page& into) {
        actionButtons(into, program.name, {{&b.installAction, install}});
    };
    if (!full) {
        b.installableItemCompact.render(
            page, {Value::fill([&](Page& into) { catalogIcon(into, program, 24); }), program.name,
                   Value::fill(command), Value::fill(button)});
        return;
    }
    const auto siblings = [&](Page& into) {
        if (program.siblings > 0) {
            b.siblings.render(into, {program.siblings});
        }
    };
    // A visitor may have a software centre; the app's own page has its 安装
    // button, and a program the catalog does not describe is in no centre.
    const auto centre = [&](Page& into) {
        if (install.isEmpty() && program.inCatalog) {
            b.centreLink.render(into, {segment(program.id)});
        }
    };
    const auto ownSummary = [&](Page& into) {
        if (!program.ownSummary.isEmpty()) {
            b.ownSummary.render(into, {program.ownSummary});
        }
    };
    b.installableItemFull.render(
        page, {Value::fill([&](Page& into) { catalogIcon(into, program, 48); }), program.name,
               program.summary, Value::fill(ownSummary), program.package, Value::fill(siblings),
               Value::fill(centre), Value::fill(command), Value::fill(button)});
}

void installableItems(Page& page, const QList<catalog::Program>& programs, bool full,
                      Audience audience) {
    const qsizetype cap = full ? fullInstallable : compactInstallable;
    blocks().apps.render(page, {Value::fill([&](Page& into) {
                             for (qsizetype i = 0; i < programs.size() && i < cap; ++i) {
                                 installableItem(into, programs[i], full, audience);
                             }
                         })});
    if (programs.size() > cap) {
        blocks().moreInstallable.render(page, {programs.size() - cap});
    }
}

void installableList(Page& page, const Format& format, const Catalog& catalog, bool full,
                     Audience audience) {
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
            installableItems(into, format.installable, full, audience);
        } else {
            (format.opensOnLinux ? b.noneInCatalog : b.noneOnLinux).render(into);
        }
    };
    (full ? b.installableFull : b.installableCompact).render(page, {Value::fill(list)});
}

// A name set into a Chinese sentence, a blank on each side where it begins
// or ends in Latin letters ("作为 Zip 归档打开").
QString spacedInText(const QString& name) {
    const auto isLatin = [](QChar c) {
        return c.unicode() < 0x80 && c.isLetterOrNumber();
    };
    if (name.isEmpty()) {
        return name;
    }
    return (isLatin(name.front()) ? QStringLiteral(" ") : QString()) + name +
           (isLatin(name.back()) ? QStringLiteral(" ") : QString());
}

void spacedInText(Page& page, const QString& name) {
    templates::appendEscaped(page, spacedInText(name));
}

qsizetype parentProgramCount(const Format& format) {
    qsizetype count = 0;
    for (const knowledge::ParentGroup& group : format.parentGroups) {
        count += group.installed.size() + group.installable.size();
    }
    return count;
}

// "见完整页面", as a link where the pane knows which page that is.
void fullPageLink(Page& page, const QString& extension) {
    if (extension.isEmpty()) {
        blocks().fullPageText.render(page);
    } else {
        blocks().fullPageLink.render(page, {fullAddress(extension)});
    }
}

// The pane lists no program that opens only a type above the format; where
// nothing else opens it, it says that some do, and where to find them.
void compactParentNote(Page& page, const Format& format, const QString& extension) {
    if (!format.programs.isEmpty() || !format.installable.isEmpty() ||
        format.parentGroups.isEmpty()) {
        return;
    }
    const QString& parent = format.parentGroups.first().description;
    blocks().parentNote.render(page,
                               {parentProgramCount(format),
                                Value::fill([&](Page& into) { spacedInText(into, parent); }),
                                Value::fill([&](Page& into) { fullPageLink(into, extension); })});
}

// What only opens a type above the format is not offered as its default.
void parentGroup(Page& page, const knowledge::ParentGroup& group, const Catalog& catalog,
                 Audience audience) {
    const Blocks& b = blocks();
    const bool showInstallable = catalog.available && !group.installable.isEmpty();
    if (group.installed.isEmpty() && !showInstallable) {
        return;
    }
    b.parentGroup.render(
        page,
        {Value::fill([&](Page& into) { spacedInText(into, group.description); }), group.mimeType});
    if (!group.installed.isEmpty()) {
        b.apps.render(page, {Value::fill([&](Page& into) {
                          installedItems(into, group.installed, true, group.mimeType, anyone);
                      })});
    }
    if (showInstallable) {
        installableItems(page, group.installable, true, audience);
    }
}

// Each part whole and under its own label, in the pane as on the full page:
// the advice is often the answer itself ("可用 Wine 运行").
void advice(Page& page, const Format& format) {
    if (!format.maker.isEmpty()) {
        blocks().maker.render(page, {format.maker});
    }
    if (!format.howToOpen.isEmpty()) {
        blocks().howTo.render(page, {format.howToOpen});
    }
}

// The extension is the one whose full page the pane points to, or empty.
void compactSection(Page& page, const Format& format, const Catalog& catalog, bool named,
                    Audience audience, const QString& extension) {
    const Blocks& b = blocks();
    if (named) {
        b.compactName.render(
            page, {Value::fill([&](Page& into) { typeIcon(into, format, 16); }), describe(format)});
    }
    b.compactType.render(page, {format.mimeType});
    advice(page, format);
    if (audience.machine) {
        b.compactInstalled.render(
            page, {Value::fill([&](Page& into) { installedList(into, format, false, audience); })});
    }
    installableList(page, format, catalog, false, audience);
    compactParentNote(page, format, extension);
}

void facts(Page& page, const Format& format) {
    blocks().facts.render(
        page, {format.mimeType, Value::fill([&](Page& into) { codeList(into, format.aliases); }),
               Value::fill([&](Page& into) { codeList(into, format.parents); }),
               Value::fill([&](Page& into) { extensionLinks(into, format.suffixes); })});
}

void fullPrograms(Page& page, const Format& format, const Catalog& catalog, Audience audience) {
    advice(page, format);
    if (audience.machine) {
        blocks().fullInstalled.render(
            page, {Value::fill([&](Page& into) { installedList(into, format, true, audience); })});
    }
    installableList(page, format, catalog, true, audience);
    for (const knowledge::ParentGroup& group : format.parentGroups) {
        parentGroup(page, group, catalog, audience);
    }
}

void fullSection(Page& page, const Format& format, const Catalog& catalog, Audience audience) {
    blocks().fullSection.render(
        page, {Value::fill([&](Page& into) { typeIcon(into, format, 32); }), describe(format),
               Value::fill([&](Page& into) { facts(into, format); }),
               Value::fill([&](Page& into) { fullPrograms(into, format, catalog, audience); })});
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

void foundList(Page& page, const QString& word, const QList<words::Found>& found, bool full) {
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
        if (full) {
            b.moreFound.render(page, {found.size() - cap});
        } else {
            b.moreFoundCompact.render(page, {found.size() - cap, fullAddress(word)});
        }
    }
}

// The public site's home: a visitor came by a link or a search engine, has
// no app and no machine of ours, and wants the search box first.
QByteArray visitorsHome() {
    const Blocks& b = blocks();
    return document(compactPageBytes,
                    Value::fill([&](Page& into) { b.visitorsTitle.render(into, {product}); }),
                    u"full", Value::fill([&](Page& into) {
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

// The extension's full page tells of the content's format only where the
// extension names it.
QString extensionOf(const FileAnswer& answer, const Format& format) {
    const bool named =
        std::any_of(answer.byName.begin(), answer.byName.end(),
                    [&](const Format& one) { return one.mimeType == format.mimeType; });
    if (named) {
        return answer.extension;
    }
    return format.suffixes.isEmpty() ? QString() : knowledge::pageName(format.suffixes.first());
}

void fileBody(Page& page, const FileAnswer& answer, const Catalog& catalog) {
    const Audience audience{.machine = answer.describesMachine, .file = true};
    // What the extension would have meant comes straight under the answer,
    // where the pane shows it without scrolling.
    noticeList(page, answer.notices);
    fileHeading(page, answer);
    byNameNote(page, answer);
    if (answer.format) {
        compactSection(page, *answer.format, catalog, false, audience,
                       extensionOf(answer, *answer.format));
    } else if (answer.type.isEmpty()) {
        for (const Format& format : answer.byName) {
            compactSection(page, format, catalog, true, audience, answer.extension);
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
    return templates::styleSheet();
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
            compactSection(into, answer.formats[i], catalog, several,
                           {.machine = answer.describesMachine}, answer.extension);
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
            fullSection(into, format, catalog, {.machine = answer.describesMachine});
        }
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
        b.wordResults.render(into,
                             {Value::fill(title), word, found.size(),
                              Value::fill([&](Page& list) { foundList(list, word, found, full); }),
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

QByteArray actionElsewhere() {
    const Blocks& b = blocks();
    return document(compactPageBytes,
                    Value::fill([&](Page& into) { b.actionTitle.render(into, {product}); }),
                    u"full", Value::fill([&](Page& into) {
                        navigation(into);
                        b.actionElsewhere.render(into, {product});
                    }));
}

QString summary(const knowledge::Answer& answer) {
    const Blocks& b = blocks();
    QString names;
    for (qsizetype i = 0; i < answer.formats.size(); ++i) {
        names += (i ? b.summaryNameAfter : b.summaryName).text({describe(answer.formats[i])});
    }
    const QString& howTo = answer.formats.isEmpty() ? QString() : answer.formats[0].howToOpen;
    return b.lookupSummary.text(
        {answer.extension, names, howTo.isEmpty() ? QString() : b.summaryHowTo.text({howTo})});
}

QString homeSummary() {
    return blocks().visitorsSummary.text();
}

QString aboutSummary() {
    return blocks().aboutSummary.text({product});
}

QByteArray publishedHead(const QString& canonical, const QString& description) {
    const Blocks& b = blocks();
    QByteArray head;
    if (!canonical.isEmpty()) {
        b.canonicalLink.render(head, {canonical});
    }
    if (!description.isEmpty()) {
        b.descriptionMeta.render(head, {description});
    }
    b.searchLink.render(head, {product});
    return head;
}

QByteArray about() {
    const Blocks& b = blocks();
    const auto date = [](Page& into) {
        dated(into);
    };
    return document(compactPageBytes,
                    Value::fill([&](Page& into) { b.aboutTitle.render(into, {product}); }), u"full",
                    Value::fill([&](Page& into) {
                        navigation(into);
                        b.about.render(into, {product, vendor, Value::fill(date)});
                    }));
}

Framing::Framing(Frame frame)
    : m_previous(std::exchange(currentFrame, std::move(frame))) {}

Framing::~Framing() {
    currentFrame = std::move(m_previous);
}

QStringList templateProblems() {
    blocks();
    return library().problems();
}

} // namespace pages

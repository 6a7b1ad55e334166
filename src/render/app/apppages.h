#pragma once

#include "template.h"

#include <QString>
#include <QStringList>

// The app's own pages, those it shows in the pane without the site: written
// as templates in app/templates/ and styled by the site's one style sheet,
// so that they read like the site's pages in the pane.
namespace apppages {

using templates::Value;

// The app's templates, read at first use; what is wrong with them is logged
// under quelvix.app.pages.
const templates::Library& library();

// A block of the app's templates.
struct Block : templates::Block {
    Block(const char* name, std::initializer_list<const char*> names)
        : templates::Block(library(), name, names) {}
};

// Every block of the app's templates, each with the names the code gives it
// values under, in the order it gives them.
struct Blocks {
    // page.html
    Block page{"page", {"title", "style", "body"}};
    Block readingTitle{"readingTitle", {}};
    Block reading{"reading", {"what"}};
    Block readingOne{"readingOne", {}};
    Block readingSeveral{"readingSeveral", {"count"}};
    Block cannotTellTitle{"cannotTellTitle", {}};
    Block cannotTell{"cannotTell", {}};
    // pane.html
    Block paneTitle{"paneTitle", {}};
    Block paneFailure{"paneFailure", {"what", "fix", "address"}};
    // files.html
    Block untoldTitle{"untoldTitle", {}};
    Block untold{"untold", {"name", "why"}};
    Block listTitle{"listTitle", {}};
    Block list{"list", {"count", "results", "items", "left"}};
    Block toldItem{"toldItem", {"href", "description", "type", "warning", "names"}};
    Block untoldItem{"untoldItem", {"why", "names"}};
    Block misleads{"misleads", {}};
    Block names{"names", {"count", "list", "more"}};
    Block name{"name", {"name"}};
    Block nameSeparator{"nameSeparator", {}};
    Block moreNames{"moreNames", {}};
    Block left{"left", {"seen", "unseen"}};
};

const Blocks& blocks();

// A whole page, the style sheet inline: the app's pages stand on no site.
QString document(const Value& title, const Value& body);

// What is wrong with the templates or with how the code fills them in;
// empty when every block parses and is given exactly the values it shows.
QStringList problems();

} // namespace apppages

#pragma once

#include "knowledge.h"
#include "words.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <functional>
#include <optional>

// The site's pages as UTF-8 HTML, from the templates in pages/. Every text
// from a request or from the system's databases is escaped.
namespace pages {

// What the pages say about the software catalog.
struct Catalog {
    bool installed = true; // false: one line says how to get it
    bool available = true; // false: its section is left out
};

// What the tool's pane shows: made for 545 x 297 pixels.
QByteArray compact(const knowledge::Answer& answer, const Catalog& catalog);
// The same and more, for an ordinary browser window.
QByteArray full(const knowledge::Answer& answer, const Catalog& catalog);
// What the app found in a file, for its pane.
struct FileAnswer {
    QString extension; // as the file's name spells it; empty when it has none
    QString type;      // the MIME type its content says; empty when that tells nothing
    std::optional<knowledge::Format> format; // the type's, when the database knows it
    QList<knowledge::Format> byName;         // what the extension means
    QStringList notices;                     // most urgent first
    bool describesMachine = true;
};
QByteArray fileAnswer(const FileAnswer& answer, const Catalog& catalog);
// The site's home, standing in for the maker's forum; a public site's speaks to
// a web visitor, who has neither the app nor this machine.
QByteArray home(bool forVisitors = false);
// An extension nobody has recorded yet (as the lookup read it), with known
// ones that look alike, linked to the compact or the full pages.
QByteArray notFound(const QString& extension, const QStringList& suggestions, bool full);
// The formats a word found, each linked to its extension's page.
QByteArray wordResults(const QString& word, const QList<words::Found>& found, bool full);
// Nothing typed yet: the search box and what it takes.
QByteArray searchPage(bool full);
// Any other address on the site.
QByteArray noSuchPage();
// An address of a button that the app carries out, followed in a browser:
// the site itself never acts on one.
QByteArray actionElsewhere();

// What the site is, where its data comes from, how to get the app, at length
// (at addresses::aboutPath).
QByteArray about();

// The tags a deployed site's page carries in its head: its canonical address
// (none where empty), its description (likewise) and the search box.
QByteArray publishedHead(const QString& canonical, const QString& description);

// What a page says of itself in a line, as plain text, for its description:
// a lookup page's (its formats and how the first is opened), the home's and
// the about page's.
QString summary(const knowledge::Answer& answer);
QString homeSummary();
QString aboutSummary();

// Who reads the pages made on this thread, and how old their data is. Every
// page's frame says so (the site's name, its footer), deep below the calls
// that make its parts, which otherwise need not know; the date is asked for
// only when a page is made, not for one that is kept.
struct Frame {
    bool forVisitors = false; // a public site's or an export's page, not the app's
    std::function<QDate()> dataDate;
};
// While it lives, pages made on this thread are framed for it; without one
// they are the app's, undated.
class Framing {
public:
    explicit Framing(Frame frame);
    ~Framing();
    Framing(const Framing&) = delete;
    Framing& operator=(const Framing&) = delete;

private:
    Frame m_previous;
};

// The style sheet every page links to.
QByteArray styleSheet();

// What is wrong with the page templates or with how the pages fill them in;
// empty when every block parses and is given exactly the values it shows.
QStringList templateProblems();

} // namespace pages

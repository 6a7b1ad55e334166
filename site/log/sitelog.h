#pragma once

#include <QLoggingCategory>

// The site's log: one line each on standard error, which the user unit's
// journal keeps. Debug lines (each refused request) only when asked for.
Q_DECLARE_LOGGING_CATEGORY(lcSite)    // starting and stopping
Q_DECLARE_LOGGING_CATEGORY(lcHttp)    // connections and requests turned away
Q_DECLARE_LOGGING_CATEGORY(lcCache)   // kept pages dropped, and why
Q_DECLARE_LOGGING_CATEGORY(lcCatalog) // the software catalog read
Q_DECLARE_LOGGING_CATEGORY(lcMime)    // the MIME database changing under the site
Q_DECLARE_LOGGING_CATEGORY(lcExport)

namespace sitelog {

enum class Detail {
    Quiet,   // warnings only: a one-off command keeps its output to itself
    Normal,  // what happens to the site as a whole
    Verbose, // and each request it turns away
};

// Before anything is logged: each line as "quelvix-site: <category>: <text>",
// unless QT_MESSAGE_PATTERN asks for another form.
void setUp();
void setDetail(Detail detail);

// What the person reads on the terminal: the Chinese text, unless their
// locale asks for another language, then the English one.
bool readsChinese();
QString say(const char* chinese, const char* english);

} // namespace sitelog

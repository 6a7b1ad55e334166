#pragma once

#include "knowledge.h"

#include <QByteArray>
#include <QString>

// The site's pages as UTF-8 HTML. Every text from a request or from the
// system is escaped.
namespace pages {

// What the tool's pane shows: made for 545 x 297 pixels.
QByteArray compact(const QString& extension, const QList<knowledge::Format>& formats);
// The same and more, for an ordinary browser window.
QByteArray full(const QString& extension, const QList<knowledge::Format>& formats);
// The site's home, standing in for the maker's forum.
QByteArray home();
// An extension nobody has recorded yet; the pane and the browser show it
// under the title 网页未找到.
QByteArray notFound(const QString& extension);
// Any other address on the site.
QByteArray noSuchPage();

// Text as HTML, with control characters dropped.
QString escape(const QString& text);

// The style sheet every page links to.
QByteArray styleSheet();

} // namespace pages

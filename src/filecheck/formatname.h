#pragma once

#include <QMimeType>
#include <QString>

namespace filecheck {

// What a format is called wherever we name it, on the site's pages and in
// the app's lists alike: the name site/formats/advice.json gives it where it
// renames one ("Word 文档（DOCX）" for the database's "Word 2007 文档"), else
// the MIME database's comment in the process's language.
QString formatName(const QMimeType& type);

} // namespace filecheck

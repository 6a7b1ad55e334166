#pragma once

#include "filecheck.h"

#include <QByteArray>
#include <QString>

// How types are grouped and named for a person, in Chinese.
namespace filecheck {

// The name the desktop's MIME database uses for a type (aliases resolved);
// a name it does not know is kept as given.
QString canonicalType(const QString& type);
// type is ancestor or one of its descendants in the MIME database. A type the
// database does not know is a descendant of text/plain when it is text/*.
bool isA(const QString& type, const QString& ancestor);
bool related(const QString& a, const QString& b);

Family familyOf(const QString& type);

// What kind of program the content is ("Windows 程序", "Shell 脚本"), from
// its type or a #! line at its start; empty when it is no program.
QString programKind(const QString& type, const QByteArray& head);
// What kind of program a name ending in this extension is run as; empty when
// the extension is not one that runs when opened.
QString executableExtensionKind(const QString& extension);

// "PDF 文档" for an extension in a family, "文档" without an extension.
QString claimedKind(const QString& extension, Family family);
// "ZIP 压缩包", "HTML 网页", "Windows 程序": what the content is.
QString contentKind(const QString& type, Family family, const QString& program);

// Joins Chinese and Latin pieces with a blank between a CJK character and a
// Latin letter or digit, as Chinese typesetting does.
QString zh(std::initializer_list<QString> parts);

} // namespace filecheck

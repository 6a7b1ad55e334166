#pragma once

#include "filecheck.h"

#include <QByteArray>
#include <QString>

// The type a file's first bytes show, from two opinions.
namespace filecheck {

struct ContentType {
    QString type;  // empty when the bytes show nothing specific
    QString magic; // libmagic's answer as it names it
    // The type is libmagic's guess at what kind of text this is (a C file, a
    // makefile), where the desktop's database only saw text.
    bool textGuess = false;
};

// The desktop's MIME database first; libmagic where it knows more: where the
// database sees nothing, or where libmagic names a descendant of what the
// database saw (a .docx inside a ZIP, an installer inside an OLE file).
ContentType typeByContent(const QByteArray& head);

struct Answer {
    QString type;
    Basis basis = Basis::Nothing;
};

// Content first, name second: the name only refines a content type it
// descends from (ZIP -> .docx, XML -> .svg), names the kind of text where
// the content is text, or answers when the content says nothing.
Answer answer(const ContentType& content, const QString& nameType);

} // namespace filecheck

#pragma once

#include "filecheck.h"

#include <QByteArray>
#include <QString>

// The type a file's first bytes show, from two opinions.
namespace filecheck {

struct ContentType {
    QString type;  // empty when the bytes show nothing specific
    QString magic; // libmagic's answer as it names it
    // libmagic's answer in the database's terms where it was not taken: a
    // name that agrees with it settles between the two.
    QString other;
    // Text, but what kind of text is a guess: libmagic's (a C file, a
    // makefile) where the desktop's database saw plain text, or the
    // database's where libmagic saw plain text.
    bool textGuess = false;
};

// The desktop's MIME database first; libmagic where it knows more: where the
// database sees nothing, or where libmagic names a descendant of what the
// database saw (a .docx inside a ZIP, an installer inside an OLE file).
ContentType typeByContent(const QByteArray& head);

struct Answer {
    QString type;
    Basis basis = Basis::Nothing;
    QString nameType; // the name's meaning that fits the content best
};

// Content first, name second. Of the name's meanings, the one that fits the
// content is kept; it becomes the answer where it refines the content type
// (ZIP -> .docx), settles between the two opinions on the content, or names
// the kind of text where that was only guessed. Where the content says
// nothing, the name answers.
Answer answer(const ContentType& content, const QStringList& nameTypes);

} // namespace filecheck

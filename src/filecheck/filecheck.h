#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

// What a file on this machine really is: its type by content (the first bytes
// only) and by name, and notices when the name misleads. Nothing is written,
// nothing leaves the machine, and only regular files are read.
namespace filecheck {

// What happened when the path was looked at.
enum class Outcome {
    Read,         // a regular file, its first bytes read
    Empty,        // a regular file with nothing in it
    Missing,      // no such file, or a link to nothing
    NoPermission, // the file or a folder on the way to it may not be read
    Folder,
    Device, // a disk, a terminal, /dev/zero: never read
    Pipe,   // a FIFO: never opened for reading, so nothing waits
    Socket,
    Unreadable, // a read error, a link loop, a name the system refuses
    // A link out of the home folder and out of the folder it is in: what it
    // leads to is not the file that was given, so it is not read.
    LinkElsewhere,
};

// The kind of thing a type is, as a person would group it.
enum class Family {
    Unknown, // the type says nothing a person would group by
    Program, // runs when opened: executables, installers, scripts, launchers
    Document,
    Picture,
    Audio,
    Video,
    Archive,
    Text,
    WebPage,
    Database,
    Font,
};

// How Inspection::type was reached.
enum class Basis {
    Nothing,        // neither the content nor the name tells
    Content,        // the first bytes alone; for what is no file (a folder, a
                    // device), what the file system says it is: inode/directory...
    ContentAndName, // the content, made more specific (or settled between the two
                    // opinions on it) by a name that agrees with it
    Name,           // the content tells nothing (or was not read); the name alone
};

enum class NoticeKind {
    ReversedName,       // bidirectional control characters in the name
    HiddenExtension,    // report.pdf.exe, or the real extension pushed away by blanks
    ProgramInDisguise,  // a program or script named as a document, picture, video...
    WrongFamily,        // a ZIP named .jpg, an HTML page named .pdf
    LinkLeadsElsewhere, // a link out of the home folder and out of the folder it is in
    // The content confirms nothing the extension claims: bytes no database
    // knows (random, all zeros), or plain text under a document's, picture's
    // ... extension.
    Unconfirmed,
};

struct Notice {
    NoticeKind kind;
    QString text; // plain Chinese: what it means and what to do
};

struct Inspection {
    Outcome outcome = Outcome::Unreadable;
    // Why the content could not be told, in one Chinese sentence; empty when
    // the first bytes were read.
    QString sentence;
    // The file name as shown, with bidirectional and control characters
    // written as «U+202E» so that its real order is visible.
    QString name;
    // The last suffix of the name as the user would type it, without the dot;
    // empty when the name has none.
    QString extension;
    // The answer: a MIME type name, empty when nothing tells. Usually one the
    // desktop's MIME database knows; a type only libmagic knows (a Windows
    // batch file, a Mach-O program) keeps libmagic's name.
    QString type;
    Basis basis = Basis::Nothing;
    QString contentType; // by content alone; empty when not read or unknown
    QString magicType;   // libmagic's own answer on the same bytes, for reference
    // By name alone; empty when the name tells nothing. Where an extension
    // has several meanings (.ts, .pm), the one that fits the content.
    QString nameType;
    Family contentFamily = Family::Unknown;
    Family nameFamily = Family::Unknown;
    // The content belongs to a different family than the name claims, and is
    // not one of the name's containers (a .docx is a ZIP, an .svg is XML).
    // Text never differs from a text name, and plain text from no name.
    bool familiesDiffer = false;
    // Where the path really leads, when a link on the way takes it out of the
    // home folder and out of the folder the path names (then nothing is
    // read); empty otherwise.
    QString target;
    QList<Notice> notices; // most urgent first
};

// path as Qt hands it (a drop, a command-line argument). May block on a
// network file system; it never waits on a FIFO or a device.
Inspection inspect(const QString& path);
// The same for a path as the file system spells it, which need not be valid
// UTF-8 (argv as given).
Inspection inspectNative(const QByteArray& path);

// The name and extension of a path, as inspect() gives them, without
// looking at the file: for a file that is not, or not yet, read. The rest is
// the caller's to fill in.
Inspection byName(const QByteArray& path);

bool hasNotice(const Inspection& inspection, NoticeKind kind);

// The type the content bears out, for anything that shows or sends it as
// what the file is; empty where only the name tells (see Unconfirmed).
QString confirmedType(const Inspection& inspection);

// The word a notice's kind travels under in a lookup address: program,
// hidden, reversed, family, link, unconfirmed.
QString noticeCode(NoticeKind kind);
std::optional<NoticeKind> noticeKindOf(QStringView code);

// What a notice says when only its kind, the content's type and the
// extension are known, as on a site that is never told the file's name: the
// same advice, without the name or where a link leads.
QString noticeText(NoticeKind kind, const QString& type, const QString& extension);

} // namespace filecheck

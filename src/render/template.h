#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <initializer_list>
#include <type_traits>
#include <vector>

// The pages of the site and of the app are written as templates, files of
// named blocks:
//
//   {{define item}}<li><a href="{{href}}">{{name}}</a>{{raw:details}}</li>{{end}}
//
// {{name}} shows a value as text, escaped for HTML text and for a quoted
// attribute value, with control characters dropped. {{raw:name}} takes markup
// the site made from other blocks; it is the only way markup gets in, and
// even there a plain text is escaped. {{newline}} is a line break in the page:
// the template's own line breaks, and the indentation after them, are left
// out, so a block can be laid out on as many lines as reads well.
// {{! ...}} is a comment.
namespace templates {

// The one style sheet of every page, the site's and the app's: the site
// serves it at /style.css, the app's pages carry it inline.
QByteArray styleSheet();

// Appends the text as HTML, escaped as {{name}} shows it.
void appendEscaped(QByteArray& page, QStringView text);

// What a block is given for one of its names.
class Value {
public:
    Value(const QString& text)
        : Value(QStringView(text)) {}
    Value(QStringView text)
        : m_kind(Kind::Text)
        , m_data(text.utf16())
        , m_size(text.size()) {}
    template <qsizetype N>
    Value(const char16_t (&text)[N])
        : Value(QStringView(text)) {}
    Value(qint64 number)
        : m_kind(Kind::Number)
        , m_size(number) {}
    Value(int number)
        : Value(qint64(number)) {}

    // Markup the site made itself, as UTF-8.
    static Value html(QByteArrayView markup) {
        return Value(Kind::Html, markup.data(), markup.size(), nullptr);
    }
    // Markup written straight into the page, where the block places it. The
    // callable must outlive the render call it is given to.
    template <typename Write> static Value fill(Write&& write) {
        return Value(Kind::Fill, &write, 0, [](const void* object, QByteArray& page) {
            (*static_cast<std::remove_reference_t<Write>*>(const_cast<void*>(object)))(page);
        });
    }

    void appendTo(QByteArray& page, bool raw) const;
    // As plain text; false, and nothing appended, for markup.
    bool appendTextTo(QString& text) const;

private:
    enum class Kind { Text, Number, Html, Fill };
    using Writer = void (*)(const void*, QByteArray&);
    Value(Kind kind, const void* data, qint64 size, Writer write)
        : m_kind(kind)
        , m_data(data)
        , m_size(size)
        , m_write(write) {}

    Kind m_kind;
    const void* m_data = nullptr;
    qint64 m_size = 0; // characters, bytes, or the number itself
    Writer m_write = nullptr;
};

// Parsed template files, and what is wrong with them or with the code that
// renders them.
class Library {
public:
    // The program's own category, under which what is wrong is logged.
    using Log = const QLoggingCategory& (*)();

    // Every *.html in the folder; what is wrong with them is logged too.
    Library(const QString& folder, Log log);
    // One template text; for trying the renderer.
    Library(QByteArrayView text, const QString& file);

    // Syntax errors, blocks and code that disagree on their names, and blocks
    // nothing renders. Empty when all is well.
    QStringList problems() const;

private:
    friend class Block;
    struct Segment {
        qsizetype begin = 0; // literal text in m_text; or
        qsizetype length = 0;
        QByteArray name; // a value's name, if not empty
        bool raw = false;
    };
    using Segments = std::vector<Segment>;

    void parse(QByteArrayView text, const QString& file);
    void addProblem(const QString& problem) const;
    const Segments* bind(const char* block) const;

    Log m_log = nullptr;
    QByteArray m_text;
    QHash<QByteArray, Segments> m_blocks;
    mutable QMutex m_lock;
    mutable QStringList m_problems;
    mutable QSet<QByteArray> m_bound;
};

// One block, bound to the names its values are given under, in that order.
class Block {
public:
    Block(const Library& library, const char* name, std::initializer_list<const char*> names);

    // Appends the block to the page; the values in the order of the names.
    void render(QByteArray& page, std::initializer_list<Value> values = {}) const;
    // The block as plain text, where a page takes a text and not markup (a
    // description in its head, which is escaped where it is put): literal
    // text as written, text values as given. Markup, in the block or given
    // to it, is left out and reported.
    QString text(std::initializer_list<Value> values = {}) const;

private:
    void checkCount(qsizetype count) const;

    struct Piece {
        const char* text = nullptr;
        qsizetype length = 0;
        int slot = -1; // a value's position, or -1 for literal text
        bool raw = false;
    };
    const Library* m_library;
    const char* m_name;
    qsizetype m_slots;
    std::vector<Piece> m_pieces;
};

} // namespace templates

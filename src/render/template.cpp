#include "template.h"

#include <QDirIterator>
#include <QFile>
#include <algorithm>
#include <charconv>

namespace templates {
namespace {

char* put(char* out, const char* text, qsizetype length) {
    std::copy_n(text, length, out);
    return out + length;
}

// One UTF-16 unit or pair as UTF-8, or nothing for a control character; an
// unpaired surrogate becomes "?", as converting the whole text would make it.
char* putCharacter(char* out, const char16_t*& in, const char16_t* end) {
    const char16_t c = *in++;
    if (c < 0x80) {
        switch (c) {
        case u'&':
            return put(out, "&amp;", 5);
        case u'<':
            return put(out, "&lt;", 4);
        case u'>':
            return put(out, "&gt;", 4);
        case u'"':
            return put(out, "&quot;", 6);
        case u'\'':
            return put(out, "&#39;", 5);
        default:
            // A NUL or any other control character is read differently by
            // every parser, and has no business in a page.
            if (c >= 0x20 && c != 0x7f) {
                *out++ = char(c);
            }
            return out;
        }
    }
    if (c < 0x800) {
        if (c > 0x9f) {
            *out++ = char(0xc0 | (c >> 6));
            *out++ = char(0x80 | (c & 0x3f));
        }
        return out;
    }
    if (QChar::isHighSurrogate(c) && in < end && QChar::isLowSurrogate(*in)) {
        const char32_t u = QChar::surrogateToUcs4(c, *in++);
        *out++ = char(0xf0 | (u >> 18));
        *out++ = char(0x80 | ((u >> 12) & 0x3f));
        *out++ = char(0x80 | ((u >> 6) & 0x3f));
        *out++ = char(0x80 | (u & 0x3f));
        return out;
    }
    if (QChar::isSurrogate(c)) {
        *out++ = '?';
        return out;
    }
    *out++ = char(0xe0 | (c >> 12));
    *out++ = char(0x80 | ((c >> 6) & 0x3f));
    *out++ = char(0x80 | (c & 0x3f));
    return out;
}

bool isName(QByteArrayView name) {
    return !name.isEmpty() && std::isalpha(uchar(name.front())) &&
           std::all_of(name.begin(), name.end(), [](char c) { return std::isalnum(uchar(c)); });
}

int lineAt(QByteArrayView text, qsizetype offset) {
    return int(std::count(text.begin(), text.begin() + offset, '\n')) + 1;
}

// Where the text so far leaves the markup: a value may stand in text or in a
// quoted attribute value, never loose in a tag, where a blank in it would
// start another attribute.
class Markup {
public:
    void read(QByteArrayView text) {
        for (const char c : text) {
            if (m_quote) {
                m_quote = c == m_quote ? 0 : m_quote;
            } else if (m_inTag) {
                m_quote = c == '"' || c == '\'' ? c : 0;
                m_inTag = c != '>';
            } else {
                m_inTag = c == '<';
            }
        }
    }
    bool inText() const { return !m_inTag; }
    bool inQuotedValue() const { return m_quote != 0; }

private:
    bool m_inTag = false;
    char m_quote = 0;
};

// The template's own line breaks and the indentation after them are left
// out of the page.
QByteArray withoutLayout(QByteArrayView text) {
    QByteArray kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            while (i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t' ||
                                           text[i + 1] == '\n' || text[i + 1] == '\r')) {
                ++i;
            }
            continue;
        }
        kept += text[i];
    }
    return kept;
}

} // namespace

void appendEscaped(QByteArray& page, QStringView text) {
    const qsizetype start = page.size();
    // The most a UTF-16 unit can take: "&quot;".
    page.resize(start + text.size() * 6);
    char* const begin = page.data();
    char* out = begin + start;
    const char16_t* in = text.utf16();
    const char16_t* const end = in + text.size();
    while (in < end) {
        out = putCharacter(out, in, end);
    }
    page.resize(out - begin);
}

void Value::appendTo(QByteArray& page, bool raw) const {
    switch (m_kind) {
    case Kind::Text:
        appendEscaped(page, QStringView(static_cast<const char16_t*>(m_data), m_size));
        return;
    case Kind::Number: {
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, m_size);
        page.append(digits, written.ptr - digits);
        return;
    }
    case Kind::Html:
    case Kind::Fill:
        break;
    }
    QByteArray markup;
    QByteArray& into = raw ? page : markup;
    if (m_kind == Kind::Html) {
        into.append(static_cast<const char*>(m_data), m_size);
    } else {
        m_write(m_data, into);
    }
    // Markup where the block expects text is shown as text: the block says
    // where markup may go, not the code that fills it.
    if (!raw) {
        appendEscaped(page, QString::fromUtf8(markup));
    }
}

QByteArray styleSheet() {
    static const QByteArray style = [] {
        QFile file(QStringLiteral(":/render/style.css"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return style;
}

Library::Library(const QString& folder, Log log)
    : m_log(log) {
    QStringList files;
    QDirIterator found(folder, {QStringLiteral("*.html")}, QDir::Files);
    while (found.hasNext()) {
        files << found.next();
    }
    files.sort();
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            addProblem(QStringLiteral("%1: cannot be read").arg(path));
            continue;
        }
        parse(file.readAll(), path);
    }
}

Library::Library(QByteArrayView text, const QString& file) {
    parse(text, file);
}

void Library::addProblem(const QString& problem) const {
    const QMutexLocker locker(&m_lock);
    if (!m_problems.contains(problem)) {
        m_problems << problem;
        // The test that renders every block keeps these from shipping; should
        // one slip through, the page leaves the value out and the log says why.
        if (m_log) {
            qCWarning(m_log, "page template: %s", qPrintable(problem));
        }
    }
}

void Library::parse(QByteArrayView text, const QString& file) {
    QByteArray block;
    Segments segments;
    Markup markup;
    const auto problem = [&](qsizetype at, const QString& what) {
        addProblem(QStringLiteral("%1:%2: %3").arg(file).arg(lineAt(text, at)).arg(what));
    };
    const auto addLiteral = [&](QByteArrayView literal) {
        markup.read(literal);
        if (!segments.empty() && segments.back().name.isEmpty() &&
            segments.back().begin + segments.back().length == m_text.size()) {
            segments.back().length += literal.size();
        } else {
            segments.push_back({m_text.size(), literal.size(), {}, false});
        }
        m_text += literal;
    };
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype open = QByteArrayView(text).indexOf("{{", at);
        const QByteArrayView literal = text.sliced(at, (open < 0 ? text.size() : open) - at);
        if (!block.isEmpty()) {
            addLiteral(withoutLayout(literal));
        } else if (!literal.trimmed().isEmpty()) {
            problem(at, QStringLiteral("text outside {{define}}…{{end}}"));
        }
        if (open < 0) {
            break;
        }
        const qsizetype close = QByteArrayView(text).indexOf("}}", open + 2);
        if (close < 0) {
            problem(open, QStringLiteral("\"{{\" without \"}}\""));
            break;
        }
        const QByteArrayView token = text.sliced(open + 2, close - open - 2);
        at = close + 2;
        if (token.startsWith('!')) {
            continue;
        }
        if (token.startsWith("define ")) {
            const QByteArrayView name = token.sliced(7);
            if (!block.isEmpty() || !isName(name) || m_blocks.contains(name.toByteArray())) {
                problem(open, QStringLiteral("{{%1}}: nested, misnamed or defined twice")
                                  .arg(QString::fromUtf8(token)));
            }
            block = name.toByteArray();
            segments.clear();
            markup = {};
            continue;
        }
        if (block.isEmpty()) {
            problem(open,
                    QStringLiteral("{{%1}} outside {{define}}").arg(QString::fromUtf8(token)));
            continue;
        }
        if (token == "end") {
            m_blocks.insert(block, segments);
            block.clear();
        } else if (token == "newline") {
            addLiteral("\n");
        } else {
            const bool raw = token.startsWith("raw:");
            const QByteArrayView name = raw ? token.sliced(4) : token;
            if (!isName(name)) {
                problem(
                    open,
                    QStringLiteral("{{%1}} is not a value's name").arg(QString::fromUtf8(token)));
            } else if (raw ? !markup.inText() : !markup.inText() && !markup.inQuotedValue()) {
                problem(open, QStringLiteral("{{%1}} stands in a tag: only a text value may, "
                                             "in a quoted attribute value")
                                  .arg(QString::fromUtf8(token)));
            } else {
                segments.push_back({0, 0, name.toByteArray(), raw});
            }
        }
    }
    if (!block.isEmpty()) {
        problem(text.size(),
                QStringLiteral("{{define %1}} has no {{end}}").arg(QString::fromUtf8(block)));
    }
}

const Library::Segments* Library::bind(const char* block) const {
    const auto found = m_blocks.constFind(QByteArray(block));
    if (found == m_blocks.cend()) {
        addProblem(QStringLiteral("no block %1").arg(QLatin1StringView(block)));
        return nullptr;
    }
    const QMutexLocker locker(&m_lock);
    m_bound.insert(found.key());
    return &found.value();
}

QStringList Library::problems() const {
    const QMutexLocker locker(&m_lock);
    QStringList all = m_problems;
    for (auto block = m_blocks.cbegin(); block != m_blocks.cend(); ++block) {
        if (!m_bound.contains(block.key())) {
            all << QStringLiteral("block %1 is never rendered").arg(QString::fromUtf8(block.key()));
        }
    }
    all.sort();
    return all;
}

Block::Block(const Library& library, const char* name, std::initializer_list<const char*> names)
    : m_library(&library)
    , m_name(name)
    , m_slots(qsizetype(names.size())) {
    const Library::Segments* segments = library.bind(name);
    if (!segments) {
        return;
    }
    const QList<QByteArrayView> given(names.begin(), names.end());
    QList<bool> used(given.size(), false);
    for (const Library::Segment& segment : *segments) {
        if (segment.name.isEmpty()) {
            m_pieces.push_back({library.m_text.constData() + segment.begin, segment.length});
            continue;
        }
        const qsizetype slot = given.indexOf(QByteArrayView(segment.name));
        if (slot < 0) {
            library.addProblem(QStringLiteral("block %1 shows {{%2}}, which it is not given")
                                   .arg(QLatin1StringView(name), QString::fromUtf8(segment.name)));
            continue;
        }
        used[slot] = true;
        m_pieces.push_back({nullptr, 0, int(slot), segment.raw});
    }
    for (qsizetype i = 0; i < given.size(); ++i) {
        if (!used[i]) {
            library.addProblem(QStringLiteral("block %1 is given %2, which it does not show")
                                   .arg(QLatin1StringView(name), QString::fromUtf8(given[i])));
        }
    }
}

bool Value::appendTextTo(QString& text) const {
    switch (m_kind) {
    case Kind::Text:
        text += QStringView(static_cast<const char16_t*>(m_data), m_size);
        return true;
    case Kind::Number:
        text += QString::number(m_size);
        return true;
    case Kind::Html:
    case Kind::Fill:
        break;
    }
    return false;
}

void Block::checkCount(qsizetype count) const {
    if (count != m_slots) {
        m_library->addProblem(QStringLiteral("block %1 is rendered with %2 values for %3 names")
                                  .arg(QLatin1StringView(m_name))
                                  .arg(count)
                                  .arg(m_slots));
    }
}

QString Block::text(std::initializer_list<Value> values) const {
    const qsizetype count = qsizetype(values.size());
    checkCount(count);
    const Value* given = values.begin();
    QString text;
    for (const Piece& piece : m_pieces) {
        if (piece.slot < 0) {
            const QByteArrayView literal(piece.text, piece.length);
            if (literal.contains('<') || literal.contains('&')) {
                m_library->addProblem(
                    QStringLiteral("block %1 holds markup and is rendered as text")
                        .arg(QLatin1StringView(m_name)));
                continue;
            }
            text += QString::fromUtf8(literal);
        } else if (piece.slot < count && !given[piece.slot].appendTextTo(text)) {
            m_library->addProblem(QStringLiteral("block %1 is given markup and rendered as text")
                                      .arg(QLatin1StringView(m_name)));
        }
    }
    return text;
}

void Block::render(QByteArray& page, std::initializer_list<Value> values) const {
    const qsizetype count = qsizetype(values.size());
    checkCount(count);
    const Value* given = values.begin();
    for (const Piece& piece : m_pieces) {
        if (piece.slot < 0) {
            page.append(piece.text, piece.length);
        } else if (piece.slot < count) {
            given[piece.slot].appendTo(page, piece.raw);
        }
    }
}

} // namespace templates

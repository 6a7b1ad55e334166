// The pages: whatever the request or the databases say, every "<" in a page
// is the template's own.
#include "pages.h"

#include <QRegularExpression>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Tags the templates write; anything else after a "<" came from outside.
void checkMarkup(const QByteArray& page) {
    static const QRegularExpression tag(QStringLiteral(
        "<(!DOCTYPE html>|/?(html|head|meta|title|link|body|main|header|footer|nav|section|h1|"
        "h2|h3|p|div|span|small|code|ul|ol|li|hr|table|tr|th|td|a|img|form|input|button|label|"
        "strong|em|br|pre|details|summary|dl|dt|dd)[ >/])"));
    const QString text = QString::fromUtf8(page);
    for (qsizetype at = text.indexOf(QLatin1Char('<')); at >= 0;
         at = text.indexOf(QLatin1Char('<'), at + 1)) {
        const bool known = tag.match(text, at, QRegularExpression::NormalMatch,
                                     QRegularExpression::AnchorAtOffsetMatchOption)
                               .hasMatch();
        if (!known) {
            std::fprintf(stderr, "not the template's: %s\n", qPrintable(text.mid(at, 40)));
        }
        check(known);
    }
    for (const char c : page) {
        check(c == '\n' || static_cast<unsigned char>(c) >= 0x20);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Fields split at NUL bytes: extension, then the format's and a program's texts.
    const QList<QByteArray> parts =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    auto field = [&parts](qsizetype i) {
        return i < parts.size() ? QString::fromUtf8(parts[i]) : QString();
    };
    knowledge::Format format;
    format.mimeType = field(1);
    format.description = field(2);
    format.maker = field(10);
    format.howToOpen = field(11);
    format.opensOnLinux = parts.size() % 2 == 0;
    format.aliases = {field(3)};
    format.parents = {field(4)};
    format.suffixes = {field(5), field(0)};
    knowledge::Program installed;
    installed.name = field(6);
    installed.id = field(7);
    installed.description = field(8);
    installed.isDefault = true;
    knowledge::Program other = installed;
    other.name = field(8);
    other.isDefault = false;
    other.package = field(9);
    other.fromCatalog = true;
    format.programs = {installed, other};
    catalog::Program installable;
    installable.id = field(7);
    installable.name = field(6);
    installable.summary = field(8);
    installable.package = field(9);
    installable.siblings = int(parts.size());
    format.installable = {installable};
    format.parentGroups = {{field(4), field(2), {installed}, {installable}}};
    const knowledge::Answer one{field(0), {format}};
    const knowledge::Answer two{field(0), {format, format}};
    pages::FileAnswer file;
    file.extension = field(0);
    file.type = field(1);
    file.notices = {field(2)};
    file.byName = {format};
    for (const pages::Catalog catalog : {pages::Catalog{}, pages::Catalog{false, false}}) {
        checkMarkup(pages::compact(one, catalog));
        checkMarkup(pages::full(two, catalog));
        checkMarkup(pages::fileAnswer(file, catalog));
    }
    file.format = format;
    checkMarkup(pages::fileAnswer(file, {}));
    checkMarkup(pages::notFound(field(0), {field(1), field(2)}, true));
    checkMarkup(pages::notFound(field(0), {field(1)}, false));
    const QList<words::Found> found = {{{field(0), field(5)}, field(1), field(2)}};
    checkMarkup(pages::wordResults(field(3), found, true));
    checkMarkup(pages::wordResults(field(3), found, false));
    return 0;
}

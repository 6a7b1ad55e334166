// Every page the site makes, through every branch, with hostile text in
// every field: the templates and the code agree on every block's names, and
// no text from outside reaches a page as markup.
#include "pages.h"

#include <QRegularExpression>
#include <QTest>

namespace {

// A text no page may show as it is: each is told apart by its number.
QString hostile(int n) {
    return QStringLiteral("<x%1 a='1'>\"&{{y}}\u0001").arg(n);
}

catalog::Program installable(int n) {
    catalog::Program program;
    program.id = hostile(n);
    program.name = hostile(n + 1);
    program.summary = hostile(n + 2);
    program.package = n % 2 ? QStringLiteral("good-package") : hostile(n + 3);
    program.siblings = n % 3;
    program.icon = n % 2 ? hostile(n + 4) : QString();
    return program;
}

knowledge::Program installed(int n, bool isDefault, bool fromCatalog) {
    knowledge::Program program;
    program.name = hostile(n);
    program.id = hostile(n + 1);
    program.description = n % 2 ? hostile(n + 2) : QString();
    program.package = hostile(n + 3);
    program.isDefault = isDefault;
    program.fromCatalog = fromCatalog;
    program.icon = n % 2 ? QString() : hostile(n + 4);
    return program;
}

// Every part a format's sections can show.
knowledge::Format format(int n, bool opensOnLinux) {
    knowledge::Format format;
    format.mimeType = hostile(n);
    format.description = hostile(n + 1);
    format.maker = hostile(n + 2);
    format.howToOpen = hostile(n + 3);
    format.opensOnLinux = opensOnLinux;
    format.aliases = {hostile(n + 4), hostile(n + 5)};
    format.parents = {hostile(n + 6)};
    format.suffixes = {hostile(n + 7), QStringLiteral("C")};
    format.icon = hostile(n + 8);
    format.programs = {installed(n + 10, true, false), installed(n + 20, false, true),
                       installed(n + 30, false, false)};
    for (int i = 0; i < 25; ++i) {
        format.installable << installable(n + 40 + i);
    }
    format.parentGroups = {{hostile(n + 70),
                            hostile(n + 71),
                            {installed(n + 72, false, false)},
                            {installable(n + 80)}},
                           {hostile(n + 90), QStringLiteral("Zip 归档"), {}, {}}};
    return format;
}

// The same with nothing that opens it: the pane's notes for that case.
knowledge::Format bare(int n, bool opensOnLinux) {
    knowledge::Format format;
    format.mimeType = hostile(n);
    format.maker = hostile(n + 1);
    format.opensOnLinux = opensOnLinux;
    format.parentGroups = {{hostile(n + 2), hostile(n + 3), {installed(n + 4, false, false)}, {}}};
    return format;
}

QList<pages::Catalog> catalogs() {
    return {pages::Catalog{}, pages::Catalog{true, false}, pages::Catalog{false, false}};
}

// Tags the templates write; anything else after a "<" came from outside.
bool onlyTemplateMarkup(const QByteArray& page, QString* stray) {
    static const QRegularExpression tag(QStringLiteral(
        "<(!DOCTYPE html>|/?(html|head|meta|title|link|body|nav|section|h1|h2|h3|p|div|span|small|"
        "code|ul|ol|li|hr|a|img|form|input|button|strong|footer|dl|dt|dd)[ >])"));
    const QString text = QString::fromUtf8(page);
    for (qsizetype at = text.indexOf(u'<'); at >= 0; at = text.indexOf(u'<', at + 1)) {
        if (!tag.match(text, at, QRegularExpression::NormalMatch,
                       QRegularExpression::AnchorAtOffsetMatchOption)
                 .hasMatch()) {
            *stray = text.mid(at, 60);
            return false;
        }
    }
    // A value's braces are its own text, never read as a template's.
    const qsizetype syntax = QString(text).remove(QStringLiteral("{{y}}")).indexOf(u"{{");
    const qsizetype control = page.indexOf('\x01');
    *stray = syntax >= 0 ? text.mid(syntax, 60) : control >= 0 ? QStringLiteral("U+0001") : "";
    return syntax < 0 && control < 0;
}

} // namespace

class TstSitePages : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyPageIsTemplateMarkupOnly_data() {
        QTest::addColumn<QByteArray>("page");
        int row = 0;
        const auto add = [&row](const char* what, const QByteArray& page) {
            QTest::addRow("%d %s", ++row, what) << page;
        };
        const QString extension = hostile(1000);
        for (const pages::Catalog& catalog : catalogs()) {
            for (const bool machine : {true, false}) {
                const knowledge::Answer one{extension, {format(100, true)}, machine};
                const knowledge::Answer several{
                    extension, {format(200, true), bare(300, false), bare(400, true)}, machine};
                add("compact, one format", pages::compact(one, catalog));
                add("compact, several", pages::compact(several, catalog));
                add("full, one format", pages::full(one, catalog));
                add("full, several", pages::full(several, catalog));

                pages::FileAnswer file;
                file.describesMachine = machine;
                file.extension = extension;
                file.type = hostile(500);
                file.notices = {hostile(501), hostile(502)};
                file.byName = {format(600, true), bare(700, false)};
                add("file, content and name disagree", pages::fileAnswer(file, catalog));
                file.format = format(800, true);
                add("file, known format", pages::fileAnswer(file, catalog));
                file.format.reset();
                file.byName.clear();
                add("file, unknown extension", pages::fileAnswer(file, catalog));
                file.extension.clear();
                add("file, no extension", pages::fileAnswer(file, catalog));
                file.type.clear();
                file.extension = extension;
                file.byName = {format(900, true), bare(950, true)};
                add("file, type unknown", pages::fileAnswer(file, catalog));
            }
        }
        QList<words::Found> found;
        for (int i = 0; i < 70; ++i) {
            found << words::Found{
                {hostile(i), hostile(i + 1), hostile(i + 2), hostile(i + 3), hostile(i + 4)},
                hostile(i + 5),
                hostile(i + 6)};
        }
        for (const bool full : {true, false}) {
            add("not found", pages::notFound(extension, {hostile(1), hostile(2)}, full));
            add("not found, nothing alike", pages::notFound(extension, {}, full));
            add("word results", pages::wordResults(hostile(3), found, full));
            add("word results, few", pages::wordResults(hostile(3), found.mid(0, 2), full));
            add("search page", pages::searchPage(full));
            add("home", pages::home(full));
        }
        add("no such page", pages::noSuchPage());
    }

    void everyPageIsTemplateMarkupOnly() {
        QFETCH(QByteArray, page);
        QString stray;
        QVERIFY2(onlyTemplateMarkup(page, &stray), qPrintable(stray));
        QVERIFY(page.startsWith("<!DOCTYPE html>\n<html lang=\"zh-CN\">"));
        QVERIFY(page.endsWith("</body></html>\n"));
    }

    // After every page above was made: each block parsed, was given exactly
    // the values it shows, and is rendered by some page.
    void templatesAndCodeAgree() { QCOMPARE(pages::templateProblems(), QStringList()); }

    void styleSheetIsServed() {
        const QByteArray style = pages::styleSheet();
        QVERIFY(style.contains(":root{color-scheme:light dark;"));
        QVERIFY(style.contains(".notice{"));
    }
};

QTEST_GUILESS_MAIN(TstSitePages)
#include "tst_site_pages.moc"

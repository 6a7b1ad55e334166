// Every page the site makes, through every branch, with hostile text in
// every field: the templates and the code agree on every block's names, and
// no text from outside reaches a page as markup.
#include "addresses.h"
#include "catalog.h"
#include "icons.h"
#include "identitynames.h"
#include "pages.h"

#include <QDate>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <functional>

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
        "code|ul|ol|li|hr|a|img|form|input|button|strong|header|footer|dl|dt|dd)[ >])"));
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

QString described(const addresses::ActionRequest& request) {
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(int(request.action))
        .arg(request.program, request.type, request.package, request.component);
}

QStringList described(const QList<addresses::ActionRequest>& requests) {
    QStringList lines;
    for (const addresses::ActionRequest& request : requests) {
        lines << described(request);
    }
    return lines;
}

// Every action link of a page, as the app would read it.
QStringList actionsOn(const QByteArray& page) {
    static const QRegularExpression href(QStringLiteral("href=\"(/action/[^\"]*)\""));
    QStringList found;
    for (const QRegularExpressionMatch& match : href.globalMatch(QString::fromUtf8(page))) {
        const QString link =
            match.captured(1).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        const std::optional<addresses::ActionRequest> request = addresses::actionOf(QUrl(link));
        found << (request ? described(*request) : QStringLiteral("refused: ") + link);
    }
    return found;
}

// A format as this machine may know it: the default program, another one,
// one whose package is installed without a desktop entry, and two to install.
knowledge::Format wordDocument() {
    knowledge::Format format;
    format.mimeType = QStringLiteral("application/vnd.test.document");
    format.description = QStringLiteral("测试文档");
    format.suffixes = {QStringLiteral("tdoc")};
    knowledge::Program writer;
    writer.name = QStringLiteral("Writer");
    writer.id = QStringLiteral("org.example.Writer.desktop");
    writer.isDefault = true;
    knowledge::Program reader = writer;
    reader.name = QStringLiteral("Reader");
    reader.id = QStringLiteral("org.example.Reader.desktop");
    reader.isDefault = false;
    knowledge::Program packaged = reader;
    packaged.name = QStringLiteral("Packaged");
    packaged.id = QStringLiteral("org.example.Packaged");
    packaged.fromCatalog = true;
    format.programs = {writer, reader, packaged};
    catalog::Program editor;
    editor.id = QStringLiteral("org.example.Editor");
    editor.name = QStringLiteral("Editor");
    editor.package = QStringLiteral("example-editor");
    catalog::Program odd = editor;
    odd.id = QStringLiteral("odd id");
    odd.package = QStringLiteral("odd-editor");
    format.installable = {editor, odd};
    return format;
}

// A catalog as Debian's package manager leaves it: the data compressed under
// apt's name for it, the icon listed at three sizes and as a remote copy, and
// on disk only in the 48 px folder under the catalog's origin.
struct DebianCatalog {
    QTemporaryDir dir;
    QString icon =
        dir.filePath("icons/debian-test-main/48x48/example-writer_org.example.Writer.png");

    bool writeData() {
        const QByteArray name = "example-writer_org.example.Writer.png";
        const QByteArray yaml =
            "---\nFile: DEP-11\nVersion: '0.16'\nOrigin: debian-test-main\n"
            "MediaBaseUrl: https://appstream.example.org/media\n"
            "---\nType: desktop-application\nID: org.example.Writer.desktop\n"
            "Package: example-writer\nName:\n  C: Example Writer\nSummary:\n"
            "  C: Writes test documents\nIcon:\n  cached:\n  - name: " +
            name + "\n    width: 48\n    height: 48\n  - name: " + name +
            "\n    width: 64\n    height: 64\n  - name: " + name +
            "\n    width: 128\n    height: 128\n  remote:\n  - url: o/or/org.example.Writer/"
            "1/icons/128x128/" +
            name +
            "\n    width: 128\n    height: 128\n  stock: example-writer\n"
            "Provides:\n  mediatypes:\n  - application/vnd.test.document\n";
        const QString data =
            dir.filePath("yaml/deb.example.org_debian_dists_test_main_dep11_Components-amd64.yml");
        QDir().mkpath(QFileInfo(data).path());
        QFile file(data);
        return file.open(QIODevice::WriteOnly) && file.write(yaml) == yaml.size() &&
               (file.close(), QProcess::execute("gzip", {data}) == 0);
    }
    bool writeIcon() {
        QDir().mkpath(QFileInfo(icon).path());
        QImage image(48, 48, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        return image.save(icon);
    }
};

} // namespace

class TstSitePages : public QObject {
    Q_OBJECT

    QTemporaryDir m_cache;

private Q_SLOTS:
    // What reads the catalog keeps its readings here, not in the user's cache.
    void initTestCase() {
        QVERIFY(m_cache.isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    }

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
        add("an action followed in a browser", pages::actionElsewhere());
        const pages::Framing framing({true, [] {
                                          return QDate(2026, 1, 2);
                                      }});
        const knowledge::Answer visitors{extension, {format(100, true)}, false};
        add("a visitor's compact page", pages::compact(visitors, {}));
        add("a visitor's full page", pages::full(visitors, {}));
        add("about", pages::about());
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

    // Buttons for the app only on the pages the site serves to its own user's
    // app; opening only on a page for a file given to the app; none for the
    // current default, for a package without a desktop entry, or for a name
    // that does not fit the form the app takes.
    void actionLinks_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QStringList>("expected");
        using addresses::Action;
        const QString type = QStringLiteral("application/vnd.test.document");
        const QStringList setDefault =
            described({{Action::SetDefault, "org.example.Reader.desktop", type, {}, {}}});
        const QStringList openEither =
            described({{Action::Open, "org.example.Writer.desktop", {}, {}, {}},
                       {Action::Open, "org.example.Reader.desktop", {}, {}, {}}});
        const QStringList install =
            described({{Action::Install, {}, {}, "example-editor", "org.example.Editor"},
                       {Action::Install, {}, {}, "odd-editor", {}}});
        const QString extension = QStringLiteral("tdoc");
        for (const bool machine : {true, false}) {
            const knowledge::Answer answer{extension, {wordDocument()}, machine};
            pages::FileAnswer file;
            file.extension = extension;
            file.type = type;
            file.format = wordDocument();
            file.byName = {wordDocument()};
            file.describesMachine = machine;
            const char* who = machine ? "the app's" : "public or exported";
            QTest::addRow("%s compact page", who)
                << pages::compact(answer, {}) << (machine ? setDefault + install : QStringList());
            QTest::addRow("%s full page", who)
                << pages::full(answer, {}) << (machine ? setDefault + install : QStringList());
            QStringList forFile{openEither[0]};
            forFile << setDefault << openEither[1] << install;
            QTest::addRow("%s page for a file", who)
                << pages::fileAnswer(file, {}) << (machine ? forFile : QStringList());
        }
    }

    void actionLinks() {
        QFETCH(QByteArray, page);
        QFETCH(QStringList, expected);
        QCOMPARE(actionsOn(page), expected);
        QVERIFY(page.contains("<span class=\"tag\">当前默认</span>") == !expected.isEmpty());
        QCOMPARE(page.count("sudo apt install"), 2);
    }

    // The catalog's cached icon is found however the library kept its
    // reading, and served from the address the pages give it, to this
    // machine's pages as to public ones.
    void catalogIcon_data() {
        QTest::addColumn<bool>("iconsLater");
        QTest::newRow("icons there when the catalog is first read") << false;
        QTest::newRow("icons come after the catalog was read") << true;
    }

    void catalogIcon() {
        QFETCH(bool, iconsLater);
        DebianCatalog debian;
        QVERIFY(debian.writeData());
        if (iconsLater) {
            const auto before =
                catalog::Catalog::load(debian.dir.path(), catalog::Catalog::Reading::Whole);
            QVERIFY(before->isAvailable());
            QVERIFY(before->iconFile("org.example.Writer.desktop").isEmpty());
        }
        QVERIFY(debian.writeIcon());
        const auto catalog =
            catalog::Catalog::load(debian.dir.path(), catalog::Catalog::Reading::Whole);
        const QString id = QStringLiteral("org.example.Writer.desktop");
        QCOMPARE(catalog->iconFile(id), debian.icon);
        const QString address = icons::address(icons::Kind::Catalog, id, catalog->iconFile(id));
        QCOMPARE(address, "/icons/catalog/org.example.Writer.desktop.png");
        const icons::Themes themes;
        for (const bool isPublic : {false, true}) {
            QCOMPARE(icons::resolve(address.toLatin1(), themes, *catalog, isPublic), debian.icon);
        }
    }

    // A visitor's page says whose it is, where its facts come from and how
    // old they are, and leads to the about page; the pane's page stays light.
    void framedForItsReader_data() {
        QTest::addColumn<bool>("forVisitors");
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("footer");
        enum { Compact, Full, Home, NotFound, About };
        QTest::newRow("visitor, lookup page") << true << int(Compact) << true;
        QTest::newRow("visitor, full page") << true << int(Full) << true;
        QTest::newRow("visitor, home") << true << int(Home) << true;
        QTest::newRow("visitor, nothing found") << true << int(NotFound) << true;
        QTest::newRow("visitor, about page") << true << int(About) << true;
        QTest::newRow("the app's full page") << false << int(Full) << true;
        QTest::newRow("the pane's page") << false << int(Compact) << false;
    }

    void framedForItsReader() {
        QFETCH(bool, forVisitors);
        QFETCH(int, page);
        QFETCH(bool, footer);
        const pages::Framing framing({forVisitors, [] {
                                          return QDate(2026, 1, 2);
                                      }});
        const knowledge::Answer answer{QStringLiteral("tdoc"), {wordDocument()}, !forVisitors};
        const QByteArray made = QList<std::function<QByteArray()>>{
            [&] { return pages::compact(answer, {}); }, [&] { return pages::full(answer, {}); },
            [&] { return pages::home(forVisitors); },
            [&] { return pages::notFound(QStringLiteral("qq"), {}, false); },
            [] {
                return pages::about();
            }}[page]();
        const QByteArray name = identity::names::applicationTitle;
        QCOMPARE(made.contains("<a class=\"brand\" href=\"/\">" + name + "</a>"), footer);
        QCOMPARE(made.contains("<footer>"), footer);
        QCOMPARE(made.contains("资料日期：2026年1月2日"), footer);
        QCOMPARE(made.contains("href=\"/about.html\""), footer);
        QCOMPARE(made.contains(identity::names::company), forVisitors);
        if (footer) {
            QVERIFY(made.contains("MIME 类型数据库"));
        }
    }

    // A software centre's link says what it is, only where there is no 安装
    // button beside it, and never for a program no software centre knows.
    void softwareCentreLink_data() {
        QTest::addColumn<bool>("machine");
        QTest::addColumn<bool>("inCatalog");
        QTest::addColumn<int>("links");
        QTest::newRow("visitor, a catalog's program") << false << true << 2;
        QTest::newRow("visitor, a command-line tool the catalog lacks") << false << false << 0;
        QTest::newRow("the app's page, beside 安装") << true << true << 0;
    }

    void softwareCentreLink() {
        QFETCH(bool, machine);
        QFETCH(bool, inCatalog);
        QFETCH(int, links);
        knowledge::Format format = wordDocument();
        for (catalog::Program& program : format.installable) {
            program.inCatalog = inCatalog;
        }
        const QByteArray page = pages::full({QStringLiteral("tdoc"), {format}, machine}, {});
        QCOMPARE(page.count("href=\"appstream://"), links);
        QCOMPARE(page.count(">在 Linux 软件中心中打开</a>"), links);
    }

    void styleSheetIsServed() {
        const QByteArray style = pages::styleSheet();
        QVERIFY(style.contains(":root{color-scheme:light dark;"));
        QVERIFY(style.contains(".notice{"));
    }
};

QTEST_GUILESS_MAIN(TstSitePages)
#include "tst_site_pages.moc"

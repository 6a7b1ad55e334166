// Which program comes first, and what a word or an extension with several
// meanings finds, asked of the real site over a catalog and a MIME database
// of the test's own (beside the system's).
#include "fixtures.h"
#include "pages.h"
#include "siteprocess.h"

#include <QRegularExpression>
#include <QTest>

namespace {

QByteArray entry(const QByteArray& id, const QByteArray& package, const QByteArray& name,
                 const QByteArrayList& categories, const QByteArrayList& types) {
    QByteArray yaml = "---\nType: desktop-application\nID: " + id + "\nPackage: " + package +
                      "\nName:\n  C: " + name + "\nSummary:\n  C: A test program\nCategories:\n";
    for (const QByteArray& category : categories) {
        yaml += "  - " + category + "\n";
    }
    yaml += "Launchable:\n  desktop-id:\n    - " + id + ".desktop\n";
    yaml += types.isEmpty() ? "" : "Provides:\n  mediatypes:\n";
    for (const QByteArray& type : types) {
        yaml += "    - " + type + "\n";
    }
    return yaml;
}

QByteArrayList unrelatedTypes(int count) {
    QByteArrayList types;
    for (int i = 0; i < count; ++i) {
        types << "application/x-qvx-unrelated" + QByteArray::number(i);
    }
    return types;
}

// For the test film: a specialist, a program that lists everything, one the
// desktops ship beside its twin that they do not, a package of three
// programs, one that opens only the film's parent type, and one whose
// package is installed although no desktop entry of it is.
QByteArray rankingCatalog() {
    const QByteArray film = "video/x-qvx-film";
    QByteArray yaml = "---\nFile: DEP-11\nVersion: '0.16'\nOrigin: quelvix-ranking\n";
    yaml += entry("org.qvx.Specialist", "specialist", "Specialist Player", {"AudioVideo", "Player"},
                  {film, "video/x-qvx-other"});
    yaml += entry("org.qvx.Generalist", "generalist", "Generalist Suite", {"Office"},
                  QByteArrayList{film} + unrelatedTypes(30));
    yaml += entry("org.qvx.Chosen", "chosen", "Chosen Player", {"AudioVideo", "Player"},
                  {film, "application/x-qvx-unrelated0", "application/x-qvx-unrelated1"});
    yaml += entry("org.qvx.Alpha", "alpha", "Alpha Player", {"AudioVideo", "Player"},
                  {film, "application/x-qvx-unrelated0", "application/x-qvx-unrelated1"});
    yaml +=
        entry("org.qvx.BundleViewer", "bundle", "Bundle Viewer", {"AudioVideo", "Player"}, {film});
    yaml += entry("org.qvx.BundleEditor", "bundle", "Bundle Editor", {"AudioVideo"}, {film});
    yaml += entry("org.qvx.BundleConverter", "bundle", "Bundle Converter", {}, {film});
    yaml += entry("org.qvx.Boxer", "boxer", "Box Opener", {"Utility", "Archiving"},
                  {"application/x-qvx-box"});
    yaml += entry("org.qvx.Hidden", "hidden", "Hidden Tool", {"AudioVideo"}, {film});
    // An alias and the project's table of preferred programs.
    yaml += entry("org.qvx.AliasViewer", "aliasviewer", "Alias Viewer", {"Graphics", "Viewer"},
                  {"image/x-qvx-pic"});
    yaml += entry("org.qvx.ExactViewer", "exactviewer", "Exact Viewer", {"Graphics", "Viewer"},
                  {"image/x-qvx-picture"});
    yaml += entry("org.qvx.AaaEmulator", "aaa-emulator", "Aaa Emulator", {"System", "Emulator"},
                  {"application/x-msi"});
    yaml += entry("org.winehq.wine", "wine", "Wine", {"System", "Emulator"}, {"application/x-msi"});
    // An old front end whose makers never described it: as good a fit as
    // the specialist, and named before it.
    yaml += entry("legacy.desktop", "legacy", "Legacy Player", {"AudioVideo", "Player"},
                  {film, "video/x-qvx-other"});
    // A plain text editor, for a format that is plain text.
    yaml += entry("org.qvx.PlainEditor", "plaineditor", "Plain Editor", {"Utility", "TextEditor"},
                  {"text/plain"});
    yaml +=
        entry("org.qvx.XmlEditor", "xmleditor", "Xml Editor", {"Development"}, {"application/xml"});
    // What the advice names: a program that does not list the format, one
    // that lists it but cannot read it here, one only apt's lists have.
    yaml += entry("org.qvx.Writer", "libreoffice-writer", "LibreOffice Writer",
                  {"Office", "WordProcessor"}, {"application/vnd.ms-works"});
    yaml += entry("org.qvx.LibreCAD", "librecad", "LibreCAD", {"Graphics", "Engineering"}, {});
    yaml += entry("org.qvx.FreeCAD", "freecad", "FreeCAD", {"Graphics", "Engineering"},
                  {"image/vnd.dwg"});
    // A format named after its program, which a viewer shows too.
    yaml += entry("org.qvx.PaintViewer", "paintviewer", "Paint Viewer", {"Graphics", "Viewer"},
                  {"image/x-qvxpaint", "image/png"});
    yaml += entry("org.qvx.Qvxpaint", "qvxpaint", "Qvxpaint", {"Graphics", "RasterGraphics"},
                  {"image/x-qvxpaint", "image/png", "application/x-qvx-unrelated0"});
    // A disc image: a burner that lists it alone, an archive manager among archives.
    yaml += entry("org.qvx.Burner", "qvxburner", "Disc Burner",
                  {"AudioVideo", "DiscBurning", "Archiving"}, {"application/x-cd-image"});
    yaml += entry("org.qvx.Archiver", "qvxarchiver", "Box Archiver",
                  {"Utility", "Archiving", "Compression"},
                  {"application/x-tar", "application/x-cd-image", "application/x-7z-compressed"});
    return yaml;
}

QByteArray mimeType(const QByteArray& type, const QByteArray& comment, const QByteArray& inside) {
    return "<mime-type type=\"" + type + "\"><comment>" + comment + "</comment>" + inside +
           "</mime-type>";
}

QByteArray rankingTypes() {
    return "<?xml version=\"1.0\"?>\n<mime-info "
           "xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">" +
           mimeType("video/x-qvx-film", "Qvx film",
                    "<sub-class-of type=\"application/x-qvx-box\"/><glob pattern=\"*.qvxfilm\"/>") +
           mimeType("application/x-qvx-box", "Qvx box",
                    "<comment xml:lang=\"zh_CN\">测试容器</comment>"
                    "<sub-class-of type=\"application/zip\"/><glob pattern=\"*.qvxbox\"/>") +
           mimeType("image/x-qvx-picture", "Qvx picture",
                    "<alias type=\"image/x-qvx-pic\"/><glob pattern=\"*.qvxpic\"/>") +
           mimeType("application/x-qvx-first", "Qvx first meaning",
                    "<glob pattern=\"*.qvxamb\"/>") +
           mimeType("application/x-qvx-second", "Qvx second meaning",
                    "<glob pattern=\"*.qvxamb\"/>") +
           mimeType("text/x-qvx-lower", "Qvx lower case", "<glob pattern=\"*.qvxcase\"/>") +
           mimeType("text/x-qvx-note", "Qvx note",
                    "<sub-class-of type=\"text/plain\"/><glob pattern=\"*.qvxnote\"/>") +
           mimeType("image/x-qvxpaint", "Qvxpaint drawing", "<glob pattern=\"*.qvxpaint\"/>") +
           mimeType("image/x-qvx-vector", "Qvx vector drawing",
                    "<sub-class-of type=\"application/xml\"/><glob pattern=\"*.qvxvec\"/>") +
           // A rare meaning whose name sorts first, beside one nobody ranked.
           mimeType("audio/x-it", "Impulse Tracker audio", "<glob pattern=\"*.qvxrare\"/>") +
           mimeType("audio/x-qvx-zsong", "Qvx song", "<glob pattern=\"*.qvxrare\"/>") +
           mimeType("text/x-qvx-upper", "Qvx upper case",
                    "<glob pattern=\"*.QVXCASE\" case-sensitive=\"true\"/>"
                    "<glob pattern=\"*.qvx[1-3]\"/>") +
           "</mime-info>\n";
}

// The distribution as apt and dpkg know it: one desktop task that pulls in
// a metapackage that pulls in one player; one package installed.
QByteArray packageList() {
    return "Package: task-qvx-desktop\nSection: tasks\nInstalled-Size: 5\nDepends: qvx-meta\n\n"
           "Package: qvx-meta\nSection: metapackages\nInstalled-Size: 5\n"
           "Depends: chosen (>= 1.0)\n\n"
           "Package: chosen\nSection: video\nInstalled-Size: 5000\n\n"
           "Package: alpha\nSection: video\nInstalled-Size: 5000\n";
}

// The names shown in order, as the full page makes them strong.
QStringList strongNames(const QString& html) {
    QStringList names;
    static const QRegularExpression strong("<strong>([^<]*)</strong>");
    for (const QRegularExpressionMatch& match : strong.globalMatch(html)) {
        names << match.captured(1);
    }
    return names;
}

QString between(const QString& text, const QString& from, const QString& to) {
    const qsizetype start = text.indexOf(from);
    if (start < 0) {
        return {};
    }
    const qsizetype end = text.indexOf(to, start + from.size());
    return text.mid(start, end < 0 ? -1 : end - start);
}

// The texts, each after the one before.
bool inOrder(const QString& text, const QStringList& parts, QString* missing) {
    qsizetype at = 0;
    for (const QString& part : parts) {
        at = text.indexOf(part, at);
        if (at < 0) {
            *missing = part;
            return false;
        }
        at += part.size();
    }
    return true;
}

} // namespace

class TestSiteRanking : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void ranking_data();
    void ranking();
    void firstFormat_data();
    void firstFormat();
    void lookups_data();
    void lookups();
    void adviceIsShownHonestly();

private:
    TestWorld m_world;
    std::unique_ptr<Site> m_site;
};

void TestSiteRanking::initTestCase() {
    QVERIFY(m_world.make(true));
    QVERIFY(writeFile(m_world.share + "/mime/packages/quelvix-ranking.xml", rankingTypes()));
    QCOMPARE(QProcess::execute("update-mime-database", {m_world.share + "/mime"}), 0);
    QVERIFY(writeFile(m_world.catalog + "/yaml/quelvix-ranking.yml", rankingCatalog()));
    const QString lists = m_world.dir.filePath("apt-lists");
    QVERIFY(writeFile(lists + "/test_dists_main_binary-amd64_Packages", packageList()));
    const QString status = m_world.dir.filePath("dpkg-status");
    QVERIFY(writeFile(status, "Package: hidden\nStatus: install ok installed\n\n"
                              "Package: removed\nStatus: deinstall ok config-files\n"));
    m_world.env.insert("QUELVIX_APT_LISTS", lists);
    m_world.env.insert("QUELVIX_DPKG_STATUS", status);
    m_site = std::make_unique<Site>(m_world.env, QStringList{"--catalog", m_world.catalog});
    QVERIFY(m_site->isUp());
}

void TestSiteRanking::ranking_data() {
    QTest::addColumn<QByteArray>("extension");
    QTest::addColumn<QStringList>("order");      // the full page's programs for the format
    QTest::addColumn<QString>("parentLabel");    // the group of the parent type's programs
    QTest::addColumn<QStringList>("parentOnly"); // in it, and never in the pane
    QTest::addColumn<QStringList>("installed");  // known to dpkg, not to GIO

    // The viewer and the specialist tie, and go by name; the player the
    // desktops ship passes its twin; the generalist comes last although it
    // names the film exactly; the bundle shows once, by its best program.
    QTest::newRow("film: specialist, distribution, one per package")
        << QByteArray("qvxfilm")
        << QStringList{"Bundle Viewer", "Specialist Player", "Chosen Player",
                       "Legacy Player", "Alpha Player",      "Generalist Suite"}
        << "也可作为测试容器打开" << QStringList{"Box Opener"} << QStringList{"Hidden Tool"};
    QTest::newRow("alias after the type itself")
        << QByteArray("qvxpic") << QStringList{"Exact Viewer", "Alias Viewer"} << QString()
        << QStringList{} << QStringList{};
    QTest::newRow("the project's preferred program")
        << QByteArray("msi") << QStringList{"Wine", "Aaa Emulator"} << QString() << QStringList{}
        << QStringList{};
}

void TestSiteRanking::ranking() {
    QFETCH(QByteArray, extension);
    QFETCH(QStringList, order);
    QFETCH(QString, parentLabel);
    QFETCH(QStringList, parentOnly);
    QFETCH(QStringList, installed);

    const Reply full = m_site->get("/soso/" + extension + ".htm");
    QCOMPARE(full.status, 200);
    const QString own = between(full.body, "<h3>可安装的软件</h3>", "<h3>也可作为");
    QCOMPARE(strongNames(own).join(" | "), order.join(" | "));
    const QString parents = between(full.body, "<h3>也可作为", "</section>");
    QCOMPARE(strongNames(parents), parentOnly);
    QVERIFY2(parentLabel.isEmpty() || parents.startsWith("<h3>" + parentLabel + "</h3>"),
             qPrintable(parents.left(80)));
    const QString mine = between(full.body, "<h3>本机已安装的软件</h3>", "<h3>可安装的软件</h3>");
    for (const QString& name : installed) {
        QVERIFY2(mine.contains(name + " <span class=\"tag\">已安装</span>"), qPrintable(name));
        QVERIFY(!own.contains(name));
    }
    if (extension == "qvxfilm") {
        QCOMPARE(full.body.count("软件包 <code>bundle</code>"), 1);
        QVERIFY(own.contains("（同一软件包另有 2 个能打开它的程序）"));
    }

    // The pane: the same order, nothing for the parent type, and every
    // program with an icon, its own or the generic one.
    const Reply compact = m_site->get("/filefound/" + extension + ".html");
    QCOMPARE(compact.status, 200);
    QString missing;
    QVERIFY2(inOrder(compact.body, order.mid(0, 5), &missing), qPrintable(missing));
    for (const QString& name : parentOnly) {
        QVERIFY2(!compact.body.contains(name), qPrintable(name));
    }
    static const QRegularExpression item("<li>(.{4})");
    for (const QRegularExpressionMatch& match : item.globalMatch(compact.body)) {
        QCOMPARE(match.captured(1), "<img");
    }
}

// The programs to install for an extension's first format, in order.
void TestSiteRanking::firstFormat_data() {
    QTest::addColumn<QByteArray>("extension");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("a format that is plain text: the text editor")
        << QByteArray("qvxnote") << QStringList{"Plain Editor", "Aaa Plain Editor"};
    // XML is text, but a drawing in XML is no text to edit.
    QTest::newRow("a format that is XML: its editor, not the text editors")
        << QByteArray("qvxvec") << QStringList{"Xml Editor"};
    QTest::newRow("advice names a program that lists only another type")
        << QByteArray("wps") << QStringList{"LibreOffice Writer"};
    QTest::newRow("advice names one without types; one that cannot read it is left out")
        << QByteArray("dwg") << QStringList{"LibreCAD"};
    QTest::newRow("advice names a command-line program the catalog lacks")
        << QByteArray("lnk") << QStringList{"lnkinfo"};
    QTest::newRow("the program a format is named after before a viewer")
        << QByteArray("qvxpaint") << QStringList{"Qvxpaint", "Paint Viewer"};
    QTest::newRow("a disc image: archive manager before burner")
        << QByteArray("iso") << QStringList{"Box Archiver", "Disc Burner"};
}

void TestSiteRanking::firstFormat() {
    QFETCH(QByteArray, extension);
    QFETCH(QStringList, order);

    const Reply full = m_site->get("/soso/" + extension + ".htm");
    QCOMPARE(full.status, 200);
    const QString section = between(full.body, "<section", "</section>");
    QString own = between(section, "<h3>可安装的软件</h3>", "<h3>也可作为");
    own = own.isEmpty() ? between(section, "<h3>可安装的软件</h3>", "</section>") : own;
    QCOMPARE(strongNames(own).join(" | "), order.join(" | "));
}

void TestSiteRanking::lookups_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("inOrder"); // in the reply's headers and body
    QTest::addColumn<QStringList>("lacks");

    QTest::newRow("search keeps a file name")
        << QByteArray("/search?ext=Report.DOCX") << 303 << QStringList{"Location: /soso/docx.htm"}
        << QStringList{};
    QTest::newRow("search takes a word")
        << QByteArray("/search?ext=%E5%8E%8B%E7%BC%A9") << 303
        << QStringList{"Location: /soso/%E5%8E%8B%E7%BC%A9.htm"} << QStringList{};
    QTest::newRow("word by keyword, full")
        << QByteArray("/soso/%E5%8E%8B%E7%BC%A9.htm") << 200
        << QStringList{"<title>含“压缩”的文件格式</title>", "href=\"/soso/zip.htm\">.zip</a>"}
        << QStringList{"没有找到扩展名"};
    QTest::newRow("word by keyword, in the pane")
        << QByteArray("/filefound/%E5%8E%8B%E7%BC%A9.html") << 200
        << QStringList{"<li><a href=\"/filefound/zip.html\">.zip</a>"} << QStringList{};
    QTest::newRow("word by kind") << QByteArray("/soso/%E8%A7%86%E9%A2%91.htm") << 200
                                  << QStringList{"href=\"/soso/mp4.htm\">.mp4</a>"}
                                  << QStringList{};
    QTest::newRow("words from the English description")
        << QByteArray("/soso/Portable%20Document.htm") << 200
        << QStringList{"href=\"/soso/pdf.htm\""} << QStringList{};
    QTest::newRow("neither extension nor word")
        << QByteArray("/soso/qqqzzz.htm") << 404
        << QStringList{"<form", "<h1>没有找到扩展名 .qqqzzz 的资料</h1>"}
        << QStringList{"网页未找到"};
    QTest::newRow("the advice's description over the database's")
        << QByteArray("/filefound/vcf.html") << 200 << QStringList{"<small>电子名片</small>"}
        << QStringList{};
    QTest::newRow("blank input asks for the search box")
        << QByteArray("/filefound/%20.html") << 200 << QStringList{"<form"}
        << QStringList{"尚未收录", "没有找到"};
    // The heading names the extension; both formats follow, each named.
    QTest::newRow("two meanings, in the pane")
        << QByteArray("/filefound/qvxamb.html") << 200
        << QStringList{".qvxamb <small>可能是以下 2 种格式之一</small></h1>", "Qvx first meaning",
                       "application/x-qvx-first", "Qvx second meaning", "application/x-qvx-second"}
        << QStringList{};
    // C and c: the lower case pattern's format first, and the page under
    // the lower-case name links its siblings there too.
    QTest::newRow("letter case of patterns")
        << QByteArray("/soso/qvxcase.htm") << 200
        << QStringList{"Qvx lower case", "Qvx upper case",
                       "<a href=\"/soso/qvxcase.htm\">.QVXCASE</a>"}
        << QStringList{};
    QTest::newRow("a rare meaning after one nobody ranked")
        << QByteArray("/soso/qvxrare.htm") << 200 << QStringList{"audio/x-qvx-zsong", "audio/x-it"}
        << QStringList{};
    // 图片, 安装包: the everyday formats before those a keyword names.
    QTest::newRow("a word finds the everyday formats first")
        << QByteArray("/filefound/%E5%9B%BE%E7%89%87.html") << 200
        << QStringList{"/filefound/jpg.html", "/filefound/png.html", "/filefound/gif.html",
                       "/filefound/heic.html"}
        << QStringList{};
    QTest::newRow("installers: exe first")
        << QByteArray("/filefound/%E5%AE%89%E8%A3%85%E5%8C%85.html") << 200
        << QStringList{"/filefound/exe.html", "/filefound/msi.html", "/filefound/apk.html",
                       "/filefound/xapk.html"}
        << QStringList{};
    // The catalog's summary is English; its categories say what it is, and
    // the full page keeps the catalog's own line small below; the pane does not.
    QTest::newRow("a program's line in Chinese")
        << QByteArray("/soso/wps.htm") << 200
        << QStringList{"<strong>LibreOffice Writer</strong></p><p>文字处理软件</p>"
                       "<p class=\"muted\" lang=\"en\">A test program</p>"}
        << QStringList{};
    QTest::newRow("a program's line in Chinese, in the pane")
        << QByteArray("/filefound/wps.html") << 200 << QStringList{"LibreOffice Writer"}
        << QStringList{"A test program"};
    QTest::newRow("bracket pattern expanded")
        << QByteArray("/soso/qvx2.htm") << 200
        << QStringList{"<a href=\"/soso/qvx1.htm\">.qvx1</a>、<a href=\"/soso/qvx2.htm\">.qvx2</a>"
                       "、<a href=\"/soso/qvx3.htm\">.qvx3</a>"}
        << QStringList{"[1-3]"};
}

void TestSiteRanking::lookups() {
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QStringList, inOrder);
    QFETCH(QStringList, lacks);

    const Reply reply = m_site->get(target);
    QCOMPARE(reply.status, status);
    const QString all = QString::fromUtf8(reply.headers) + reply.body;
    QString missing;
    QVERIFY2(::inOrder(all, inOrder, &missing), qPrintable(missing));
    for (const QString& text : lacks) {
        QVERIFY2(!all.contains(text), qPrintable(text));
    }
}

// A format no Linux program opens: the pane says so, and what can be done,
// whole, since that is the answer; the full page gives both parts too.
void TestSiteRanking::adviceIsShownHonestly() {
    knowledge::Format format;
    format.mimeType = QStringLiteral("audio/x-qvx-locked");
    format.description = QStringLiteral("加密的测试音乐");
    format.maker = QStringLiteral("测试音乐客户端");
    format.howToOpen = QStringLiteral("用手机上的测试音乐客户端播放");
    format.opensOnLinux = false;
    const knowledge::Answer answer{QStringLiteral("qvxlock"), {format}, true};

    const QString compact = QString::fromUtf8(pages::compact(answer, {}));
    QVERIFY(compact.contains("<strong>制作软件</strong>：测试音乐客户端</p>"));
    QVERIFY(compact.contains("<strong>打开方法</strong>：用手机上的测试音乐客户端播放</p>"));
    QVERIFY(compact.contains("本机没有能打开此格式的软件"));
    QVERIFY(compact.contains("Linux 上没有能打开此格式的软件"));
    QVERIFY(!compact.contains("尚未安装"));

    const QString full = QString::fromUtf8(pages::full(answer, {}));
    QVERIFY(full.contains("<strong>制作软件</strong>：测试音乐客户端"));
    QVERIFY(full.contains("<strong>打开方法</strong>：用手机上的测试音乐客户端播放"));
}

QTEST_GUILESS_MAIN(TestSiteRanking)
#include "tst_site_ranking.moc"

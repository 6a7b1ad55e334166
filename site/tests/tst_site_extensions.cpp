#include "extensions.h"
#include "fixtures.h"

#include <QMimeDatabase>
#include <QTest>

// The extension index reads the compiled MIME databases' pattern files
// itself; what it finds must be what Qt gives, type by type, or pages would
// list other formats than the rest of the site knows.
class TestSiteExtensions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void patternFilesGiveWhatQtGives();

private:
    TestWorld m_world;
};

void TestSiteExtensions::initTestCase() {
    QVERIFY(m_world.make(true));
    // The user's own database, read before the others: a type of its own, a
    // system type given one more pattern (which hides the system's patterns
    // for it, as Qt reads it) and one whose patterns it deletes.
    const QString home = m_world.dir.filePath("home");
    QVERIFY(writeFile(home + "/mime/packages/own.xml",
                      "<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop.org/"
                      "standards/shared-mime-info\">"
                      "<mime-type type=\"application/x-qvx-home\"><comment>Home</comment>"
                      "<glob pattern=\"*.qvxhome\"/><glob pattern=\"*.QvxHome\"/></mime-type>"
                      "<mime-type type=\"application/pdf\"><glob pattern=\"*.pdfx\"/></mime-type>"
                      "<mime-type type=\"image/png\"><glob-deleteall/>"
                      "<glob pattern=\"*.pn[gx]\"/></mime-type></mime-info>\n"));
    QCOMPARE(QProcess::execute("update-mime-database", {home + "/mime"}), 0);
    // Before anything reads the databases: Qt and the index look them up here.
    qputenv("XDG_DATA_HOME", QFile::encodeName(home));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(m_world.share) + ":/usr/share");
}

void TestSiteExtensions::patternFilesGiveWhatQtGives() {
    const QMimeDatabase database;
    extensions::Index index(database);
    const QStringList all = index.all();
    QCOMPARE(index.typesNamed("qvxhome"), QStringList{"application/x-qvx-home"});
    QCOMPARE(index.typesNamed("pdfx"), QStringList{"application/pdf"});
    QCOMPARE(index.typesNamed("pnx"), QStringList{"image/png"});
    QVERIFY(all.contains("qvxn2")); // the test's own database, a range

    QHash<QString, QStringList> fromFiles;
    for (const QString& extension : all) {
        fromFiles.insert(extension, index.typesNamed(extension));
    }
    // Without a pattern file in one database, the index asks Qt for every
    // type's patterns, which Qt reads from each type's definition file.
    QVERIFY(QFile::remove(m_world.dir.filePath("home/mime/globs2")));
    index.forget();
    QCOMPARE(index.all(), all);
    for (const QString& extension : all) {
        QCOMPARE(index.typesNamed(extension), fromFiles.value(extension));
    }
}

QTEST_MAIN(TestSiteExtensions)
#include "tst_site_extensions.moc"

// The site's own format table: the site reads it through its ordinary MIME
// lookups, whatever the session's data folders are, and nobody else does.
#include "advice.h"
#include "distribution.h"
#include "siteprocess.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

class TestSiteFormats : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void pagesAnswerInChinese_data();
    void pagesAnswerInChinese();
    void desktopDatabaseIsUntouched();
    void advisedPackagesExist();
    void handWrittenFormatsSaySource();

private:
    QTemporaryDir m_emptyCatalog;
    std::unique_ptr<Site> m_unsetDirs;
    std::unique_ptr<Site> m_setDirs;
};

void TestSiteFormats::initTestCase() {
    QVERIFY(m_emptyCatalog.isValid());
    const QStringList arguments{"--catalog", m_emptyCatalog.path()};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_DATA_DIRS");
    m_unsetDirs = std::make_unique<Site>(env, arguments);
    // A desktop session names its data folders; the site's own still comes first.
    env.insert("XDG_DATA_DIRS", "/usr/share");
    m_setDirs = std::make_unique<Site>(env, arguments);
    QVERIFY(m_unsetDirs->isUp());
    QVERIFY(m_setDirs->isUp());
}

void TestSiteFormats::pagesAnswerInChinese_data() {
    QTest::addColumn<bool>("dirsSet");
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("ofd, written by hand") << false << QByteArray("/filefound/ofd.html")
                                          << QStringList{"OFD 版式文档", "application/ofd"};
    QTest::newRow("caj, folders set")
        << true << QByteArray("/filefound/caj.html")
        << QStringList{"CAJ 学术文献（中国知网）", "application/x-caj"};
    // The desktop's own type for the same extension stays.
    QTest::newRow("wps beside the desktop's Works")
        << true << QByteArray("/filefound/wps.html")
        << QStringList{"WPS 文字文档", "Microsoft Works 文档"};
    QTest::newRow("ps1, a language")
        << false << QByteArray("/filefound/ps1.html") << QStringList{"PowerShell 源代码"};
    QTest::newRow("kdbx, a described import")
        << true << QByteArray("/filefound/kdbx.html") << QStringList{"KeePass 密码库"};
}

void TestSiteFormats::pagesAnswerInChinese() {
    QFETCH(bool, dirsSet);
    QFETCH(QByteArray, page);
    QFETCH(QStringList, expected);
    const Reply reply = (dirsSet ? m_setDirs : m_unsetDirs)->get(page);
    QCOMPARE(reply.status, 200);
    for (const QString& text : expected) {
        QVERIFY2(reply.body.contains(text), qPrintable(text));
    }
}

void TestSiteFormats::desktopDatabaseIsUntouched() {
    // This process never puts the site's folder first: it sees what every
    // other program on the desktop sees.
    const QMimeDatabase database;
    QVERIFY(database.mimeTypeForName(QStringLiteral("application/pdf")).isValid());
    QVERIFY(!database.mimeTypeForName(QStringLiteral("application/ofd")).isValid());
    QVERIFY(!database.mimeTypeForName(QStringLiteral("application/x-caj")).isValid());
    QCOMPARE(
        database.mimeTypeForFile(QStringLiteral("paper.caj"), QMimeDatabase::MatchExtension).name(),
        QStringLiteral("application/octet-stream"));
}

// A page lists every program its advice names, by the package the advice
// gives: one the distribution does not have would be offered in vain. The
// catalog is made from apt's lists, so they are asked alone.
void TestSiteFormats::advisedPackagesExist() {
    if (distribution::packageLists().isEmpty()) {
        QSKIP("apt's package lists are absent (apt-get update fetches them)");
    }
    const QSet<QString> listed = distribution::listedPackages();
    QStringList missing;
    for (const QString& package : advice::packagesNamed()) {
        if (!listed.contains(package)) {
            missing << package;
        }
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(' ')));
}

// A reviewer checks a format written by hand against where its facts come from.
void TestSiteFormats::handWrittenFormatsSaySource() {
    QFile table(QStringLiteral(QUELVIX_FORMATS_DIR "/domestic.xml"));
    QFile advice(QStringLiteral(QUELVIX_FORMATS_DIR "/advice.json"));
    QVERIFY(table.open(QIODevice::ReadOnly));
    QVERIFY(advice.open(QIODevice::ReadOnly));
    const QJsonObject types = QJsonDocument::fromJson(advice.readAll())["types"].toObject();
    QXmlStreamReader xml(&table);
    QStringList written;
    QStringList unsourced;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() == QLatin1String("mime-type")) {
            const QString type = xml.attributes().value("type").toString();
            written << type;
            if (types[type]["source"].toString().trimmed().isEmpty()) {
                unsourced << type;
            }
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(written.size() > 100);
    QVERIFY2(unsourced.isEmpty(), qPrintable(unsourced.join(' ')));
}

QTEST_GUILESS_MAIN(TestSiteFormats)
#include "tst_site_formats.moc"
